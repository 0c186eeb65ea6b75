#include "render/components/tree_painter.h"

#include "render/affine_math.h"
#include "render/components/paragraph_painter.h"
#include "render/components/view_painter.h"

namespace VirelantDesktop::render {

namespace {

// A grey that reads on light and dark content alike.
constexpr Color kIndicatorColor{140, 128, 128, 128};

struct Walk {
  const MountedTree& tree;
  Canvas& canvas;
  const PaintOptions& options;

  void PaintScrollIndicators(const MountedView& view) {
    const auto metrics = tree.Scroll(view.tag);
    if (!metrics) return;
    const ScrollProps& props = view.model->scroll;
    constexpr float r = kIndicatorThickness / 2;
    const CornerRadii round{r, r, r, r};
    if (props.showsVerticalIndicator) {
      if (auto thumb = VerticalIndicator(metrics->offset, metrics->max, metrics->viewport, metrics->content)) {
        canvas.FillRoundedRect(*thumb, round, kIndicatorColor);
      }
    }
    if (props.showsHorizontalIndicator) {
      if (auto thumb = HorizontalIndicator(metrics->offset, metrics->max, metrics->viewport, metrics->content)) {
        canvas.FillRoundedRect(*thumb, round, kIndicatorColor);
      }
    }
  }

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
      const Point offset = view.scrollOffset;
      const Affine inner = Multiply(m, Translation(-offset.x, -offset.y));
      canvas.Save();
      canvas.Translate(-offset.x, -offset.y);
      for (Tag childTag : view.children) {
        if (const MountedView* child = tree.Find(childTag)) Paint(*child, inner, visible, depth + 1);
      }
      canvas.Restore();
      if (view.model->isScrollView && ownVisible) PaintScrollIndicators(view);
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
