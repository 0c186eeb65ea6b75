#include "render/components/tree_painter.h"

#include "render/affine_math.h"
#include "render/components/paragraph_painter.h"
#include "render/components/view_painter.h"

namespace VirelantDesktop::render {

namespace {

struct Walk {
  const MountedTree& tree;
  Canvas& canvas;
  const PaintOptions& options;

  // `visible`: the absolute area still drawable (nullopt: everywhere).
  void Paint(const MountedView& view, const Affine& parentToAbsolute, std::optional<Rect> visible, int depth) {
    if (depth > kMaxViewDepth) return;
    const ViewStyle& style = view.model->style;
    if (!(style.opacity > 0)) return;  // also NaN
    const Affine local = LocalToParent(view.layout.frame, style.transform);
    const Affine m = Multiply(parentToAbsolute, local);
    const Rect box{0, 0, view.layout.frame.width, view.layout.frame.height};
    const Rect bounds = BoundingBox(m, box);
    const bool ownVisible = !visible || Intersects(bounds, *visible);
    if (style.overflowHidden) {
      if (!ownVisible) return;
      visible = visible ? Intersection(*visible, bounds) : bounds;
    }

    canvas.Save();
    canvas.Transform(local);
    const bool group = style.opacity < 1;
    if (group) canvas.PushGroupOpacity(style.opacity);
    if (ownVisible) {
      switch (view.model->kind) {
        case ViewKind::View:
        case ViewKind::Native:  // its widget sits above its box
          PaintViewBox(canvas, view);
          break;
        case ViewKind::Paragraph:
          PaintParagraph(canvas, view);
          break;
        case ViewKind::Image:
          PaintImage(canvas, view, options.pointScale, options.images);
          break;
        case ViewKind::Unknown:
          PaintPlaceholder(canvas, view);
          break;
      }
    }
    if (!view.children.empty()) {
      if (style.overflowHidden) {
        canvas.Save();
        canvas.ClipRoundedRect(box, style.borderRadius);
      }
      for (Tag childTag : view.children) {
        if (const MountedView* child = tree.Find(childTag)) Paint(*child, m, visible, depth + 1);
      }
      if (style.overflowHidden) canvas.Restore();
    }
    if (group) canvas.PopGroupOpacity();
    canvas.Restore();
  }
};

}  // namespace

void PaintSurface(const MountedTree& tree, Tag rootTag, Canvas& canvas, const PaintOptions& options) {
  const MountedView* root = tree.Root(rootTag);
  if (root == nullptr) return;
  if (options.clip && IsEmpty(*options.clip)) return;
  canvas.Save();
  if (options.clip) canvas.ClipRoundedRect(*options.clip, {});
  Walk walk{tree, canvas, options};
  walk.Paint(*root, Affine{}, options.clip, 0);
  canvas.Restore();
}

}  // namespace VirelantDesktop::render
