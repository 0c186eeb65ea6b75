// The UI thread's view tree: what the commits handed over, applied in order.
// Pure data and geometry (no drawing); the painters and the input code read
// it. Not thread-safe: the UI thread owns it.
#pragma once

#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "render/mount_ops.h"
#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

struct MountedView {
  Tag tag = 0;
  ViewModelPtr model;  // never null
  LayoutMetrics layout;
  Tag parent = 0;  // 0: not attached
  std::vector<Tag> children;
  // Scroll views: the content point at the viewport's top-left corner (the
  // children are drawn moved by minus this).
  Point scrollOffset;
};

// Where a scroll view stands.
struct ScrollMetrics {
  Point offset;
  Point max;      // the largest offset on each axis
  Size viewport;  // the scroll view's own size
  Size content;   // its content view's size
};

// Trees deeper than this are cut off when drawing and hit testing (so a
// runaway chain of views cannot overflow the stack).
inline constexpr int kMaxViewDepth = 256;

class MountedTree {
 public:
  // Applies the ops in order. Ops naming unknown tags, a second Create of a
  // tag, inserts that would make a cycle or name a missing parent are
  // ignored; insert indices are clamped. A surface's root view exists from
  // its first transaction on (sized to the constraints until a layout for
  // it arrives).
  void Apply(const MountTransaction& transaction);

  // Drops a stopped surface: its root, every view below it, its damage.
  void RemoveSurface(Tag rootTag);

  const MountedView* Find(Tag tag) const;
  const MountedView* Root(Tag rootTag) const;
  // The constraints of the last transaction for the surface.
  std::optional<LayoutConstraints> Constraints(Tag rootTag) const;
  size_t ViewCount() const { return views_.size(); }

  // The surface root above `tag` (itself for a root); nullopt when the view
  // is not attached to a surface.
  std::optional<Tag> SurfaceOf(Tag tag) const;
  // Local coordinates of `tag` to absolute (surface) logical pixels.
  std::optional<Affine> AbsoluteTransform(Tag tag) const;
  // The box the view's frame covers on the surface (transforms' bounding box).
  std::optional<Rect> AbsoluteFrame(Tag tag) const;
  // An absolute point in the view's own coordinates; nullopt for a view not
  // attached or transformed to nothing.
  std::optional<Point> ToLocal(Tag tag, Point absolute) const;
  // The tags from the surface root down to `tag` (empty when not attached).
  std::vector<Tag> PathTo(Tag tag) const;

  // The areas (absolute logical pixels) whose drawing changed since the
  // last TakeDamage, per surface or for all of them.
  std::vector<Rect> Damage(Tag rootTag) const;
  std::vector<Rect> Damage() const;
  std::vector<Rect> TakeDamage(Tag rootTag);
  std::vector<Rect> TakeDamage();

  // A scroll view's place; nullopt for any other view.
  std::optional<ScrollMetrics> Scroll(Tag tag) const;
  // Moves a scroll view's content to `offset` (clamped to its extent);
  // true when it moved. Its area is damaged and it counts as scrolled.
  bool ScrollTo(Tag tag, Point offset);
  // The scroll views that moved since the last call, by input, command or a
  // commit (the extent shrank, a kept position, an initial offset).
  std::vector<Tag> TakeScrolled();
  // The area of the surface the scroll views above `tag` let through (the
  // intersection of their frames); nullopt when no scroll view is above it.
  std::optional<Rect> ScrollClip(Tag tag) const;
  // The scroll views attached to the surface, in creation order.
  std::vector<Tag> ScrollViewsIn(Tag rootTag) const;
  // The scroll views under `p` (absolute logical pixels), innermost first.
  std::vector<Tag> ScrollViewsAt(Tag rootTag, Point p) const;

  // The view under `p` (absolute logical pixels): later children above
  // earlier ones, children outside an overflow-hidden parent's rounded
  // rect not hit, transforms inverted, pointerEvents honoured. `local`
  // receives the point in the hit view's coordinates.
  std::optional<Tag> HitTest(Tag rootTag, Point p, Point* local = nullptr) const;

 private:
  MountedView* Mutable(Tag tag);
  void Detach(MountedView& view);
  bool IsAncestorOrSelf(Tag ancestor, Tag tag) const;
  // The view and its children's covered area on the surface, as drawn.
  Rect SubtreeBounds(const MountedView& view, const Affine& parentToAbsolute, int depth) const;
  void AddSubtreeDamage(Tag tag);
  void AddDamage(Tag root, Rect rect);
  std::optional<Tag> HitView(const MountedView& view, Point inParent, int depth, Point* local) const;
  bool SetScrollOffset(MountedView& view, Point offset);
  // What a commit must keep: the first visible child of a scroll view that
  // asks to keep its content's visible position, and where it was.
  struct KeptPosition {
    Tag scrollView = 0;
    Tag child = 0;
    Point childOrigin;
  };
  std::vector<KeptPosition> FindKeptPositions() const;
  void AfterCommit(const std::vector<KeptPosition>& kept);

  std::unordered_map<Tag, MountedView> views_;
  std::unordered_map<Tag, LayoutConstraints> surfaces_;
  std::unordered_map<Tag, bool> implicitRoots_;  // root made without a Create: sized from the constraints
  std::map<Tag, std::vector<Rect>> damage_;
  std::vector<Tag> scrollViews_;  // the scroll views, in creation order
  std::vector<Tag> scrolled_;     // moved since TakeScrolled
};

}  // namespace VirelantDesktop::render
