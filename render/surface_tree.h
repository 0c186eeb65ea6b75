// One surface's committed tree on the JS thread: lays the shadow tree out
// with Yoga and turns each commit into the mount operations that bring the
// UI thread's views from the last commit to this one.
//
// Not thread-safe: one thread (the JS thread) owns a SurfaceTree.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/mount_ops.h"
#include "render/render_types.h"
#include "render/shadow_node.h"
#include "render/text_measurer.h"

namespace VirelantDesktop::render {

// Deeper subtrees are dropped (with a warning): Yoga lays out recursively.
inline constexpr int kMaxTreeDepth = 256;

class SurfaceTree {
 public:
  // `measurer` may be null: paragraphs then measure 0 x 0.
  SurfaceTree(Tag rootTag, std::shared_ptr<const TextMeasurer> measurer);
  ~SurfaceTree();
  SurfaceTree(const SurfaceTree&) = delete;
  SurfaceTree& operator=(const SurfaceTree&) = delete;

  void SetConstraints(const LayoutConstraints& constraints);
  const LayoutConstraints& Constraints() const;

  // Commits the root's new children: builds paragraphs' text, lays out,
  // diffs against the last commit and returns the transaction. `warnings`
  // (may be null) gets human-readable lines: unknown components (once per
  // name), a tag used twice, the tree too deep, text outside a paragraph.
  //
  // A removed subtree yields a Remove for every view in it (each from its
  // own parent) and a Delete for every view in it. A node created in this
  // commit carries its layout in its Create and gets no UpdateLayout.
  MountTransaction Commit(std::vector<ShadowNodePtr> rootChildren, std::vector<std::string>* warnings);

  // Lays the last committed tree out again (after SetConstraints): only
  // UpdateLayout operations, the root's included.
  MountTransaction Relayout();

  // The text a text input's field now holds (its "topChange"): the input is
  // measured by it from now on. True when that changed what it measures
  // (lay out again with Relayout).
  bool SetInputText(Tag tag, std::string text);

  // A committed view's frame relative to the root (layout only: transforms
  // and scroll offsets are not applied), and its parent-relative metrics.
  std::optional<Rect> AbsoluteFrame(Tag tag) const;
  std::optional<LayoutMetrics> Metrics(Tag tag) const;
  // The last committed node with that tag (null for the root and for text
  // nodes inside paragraphs).
  ShadowNodePtr Find(Tag tag) const;
  // The committed parent of a view (the root's tag for its children);
  // nullopt for the root and for tags not in the last commit.
  std::optional<Tag> ParentOf(Tag tag) const;
  // The committed mounted children of a view or of the root, in order
  // (empty for tags not in the last commit).
  std::vector<Tag> ChildrenOf(Tag tag) const;
  // The surface's root tag.
  Tag RootTag() const;
  // Committed views, the root included.
  size_t NodeCount() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace VirelantDesktop::render
