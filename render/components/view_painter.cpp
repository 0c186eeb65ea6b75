#include "render/components/view_painter.h"

namespace VirelantDesktop::render {

namespace {

constexpr Color kPlaceholderFill{255, 255, 200, 255};
constexpr Color kPlaceholderLine{255, 200, 0, 200};
constexpr Color kPlaceholderText{255, 110, 0, 110};
constexpr float kPlaceholderFontSize = 10;

bool AnyPositive(const EdgeInsets& e) { return e.left > 0 || e.top > 0 || e.right > 0 || e.bottom > 0; }

}  // namespace

EdgeInsets BorderWidths(const MountedView& view) {
  if (AnyPositive(view.layout.borderWidth)) return view.layout.borderWidth;
  return view.model->style.borderWidth;
}

void PaintViewBox(Canvas& canvas, const MountedView& view) {
  const ViewStyle& style = view.model->style;
  const Rect box{0, 0, view.layout.frame.width, view.layout.frame.height};
  if (!style.backgroundColor.IsTransparent()) canvas.FillRoundedRect(box, style.borderRadius, style.backgroundColor);
  const EdgeInsets widths = BorderWidths(view);
  if (AnyPositive(widths)) canvas.StrokeBorder(box, widths, style.borderColor, style.borderRadius);
}

void PaintPlaceholder(Canvas& canvas, const MountedView& view) {
  const Rect box{0, 0, view.layout.frame.width, view.layout.frame.height};
  if (box.width <= 0 || box.height <= 0) return;
  canvas.FillRoundedRect(box, {}, kPlaceholderFill);
  canvas.StrokeDashedRect(box, 1, kPlaceholderLine);
  const float inset = 3;
  const Rect label{inset, inset, box.width - 2 * inset, box.height - 2 * inset};
  if (label.width > 0 && label.height > 0) {
    canvas.DrawLabel(view.model->componentName, kPlaceholderFontSize, kPlaceholderText, label);
  }
}

}  // namespace VirelantDesktop::render
