#include "render/components/image_painter.h"

#include <algorithm>
#include <cmath>

#include "render/affine_math.h"
#include "render/components/view_painter.h"

namespace VirelantDesktop::render {

const ImageSource* PickImageSource(const ImageProps& image, Size viewSize, float pointScale) {
  if (image.sources.empty()) return nullptr;
  if (image.sources.size() == 1) return &image.sources.front();
  const double needed = static_cast<double>(viewSize.width) * viewSize.height * pointScale * pointScale;
  const ImageSource* bestLarger = nullptr;
  const ImageSource* largest = nullptr;
  auto pixels = [](const ImageSource& s) {
    return static_cast<double>(s.width) * s.height * std::max(s.scale, 1e-3f) * std::max(s.scale, 1e-3f);
  };
  for (const ImageSource& source : image.sources) {
    if (source.width <= 0 || source.height <= 0) return &source;
    const double have = pixels(source);
    if (have >= needed && (bestLarger == nullptr || have < pixels(*bestLarger))) bestLarger = &source;
    if (largest == nullptr || have > pixels(*largest)) largest = &source;
  }
  return bestLarger != nullptr ? bestLarger : largest;
}

Rect ImageDestination(Size natural, const Rect& box, ResizeMode mode) {
  if (!(natural.width > 0 && natural.height > 0) || IsEmpty(box)) return {};
  const float sx = box.width / natural.width, sy = box.height / natural.height;
  auto centred = [&box](float w, float h) {
    return Rect{box.x + (box.width - w) / 2, box.y + (box.height - h) / 2, w, h};
  };
  switch (mode) {
    case ResizeMode::Stretch:
      return box;
    case ResizeMode::Contain: {
      const float s = std::min(sx, sy);
      return centred(natural.width * s, natural.height * s);
    }
    case ResizeMode::Cover: {
      const float s = std::max(sx, sy);
      return centred(natural.width * s, natural.height * s);
    }
    case ResizeMode::Center: {
      // Natural size, scaled down (never up) to fit.
      const float s = std::min({sx, sy, 1.0f});
      return centred(natural.width * s, natural.height * s);
    }
    case ResizeMode::Repeat:
      return {box.x, box.y, natural.width, natural.height};
  }
  return box;
}

void PaintImage(Canvas& canvas, const MountedView& view, float pointScale, const ImageLookup& lookup) {
  const ViewStyle& style = view.model->style;
  const Rect box{0, 0, view.layout.frame.width, view.layout.frame.height};
  if (!style.backgroundColor.IsTransparent()) canvas.FillRoundedRect(box, style.borderRadius, style.backgroundColor);
  const ImageProps& props = view.model->image;
  const ImageSource* source = PickImageSource(props, {box.width, box.height}, pointScale);
  CanvasImagePtr image = source != nullptr && lookup ? lookup(*source) : nullptr;
  if (image && !IsEmpty(box)) {
    canvas.Save();
    canvas.ClipRoundedRect(box, style.borderRadius);
    canvas.DrawImage(*image, box, props.resizeMode, std::max(source->scale, 1e-3f), props.tintColor,
                     props.blurRadius);
    canvas.Restore();
  }
  const EdgeInsets widths = BorderWidths(view);
  if (widths.left > 0 || widths.top > 0 || widths.right > 0 || widths.bottom > 0) {
    canvas.StrokeBorder(box, widths, style.borderColor, style.borderRadius);
  }
}

}  // namespace VirelantDesktop::render
