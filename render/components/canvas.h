// What the painters draw on. Coordinates are logical pixels in the current
// local space (after Translate/Transform); the implementation maps them to
// device pixels. Save/Restore pair up the transform and the clip.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

// A decoded image, owned by whoever decoded it (the platform's loader).
class CanvasImage {
 public:
  virtual ~CanvasImage() = default;
  virtual int PixelWidth() const = 0;
  virtual int PixelHeight() const = 0;
};
using CanvasImagePtr = std::shared_ptr<const CanvasImage>;

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void Save() = 0;
  virtual void Restore() = 0;
  virtual void Translate(float dx, float dy) = 0;
  virtual void Transform(const Affine& m) = 0;
  // Intersects the clip with the rect's rounded shape (radii already fitted
  // or not: the canvas fits them).
  virtual void ClipRoundedRect(const Rect& rect, const CornerRadii& radii) = 0;

  virtual void FillRoundedRect(const Rect& rect, const CornerRadii& radii, Color color) = 0;
  // The border band inside `rect`: each edge its own width and colour,
  // corners rounded by `radii` outside and the radii less the widths inside.
  virtual void StrokeBorder(const Rect& rect, const EdgeInsets& widths, const BorderColors& colors,
                            const CornerRadii& radii) = 0;
  // A rectangle outline of dashes, `width` logical pixels wide, inside `rect`.
  virtual void StrokeDashedRect(const Rect& rect, float width, Color color) = 0;

  // Everything drawn until the matching Pop is composited at `opacity`.
  virtual void PushGroupOpacity(float opacity) = 0;
  virtual void PopGroupOpacity() = 0;

  // The paragraph laid out at rect.width and drawn from rect's top-left.
  virtual void DrawParagraph(const AttributedText& text, const ParagraphAttributes& paragraph, const Rect& rect) = 0;
  // A short single-line label (no wrapping), clipped to `rect`.
  virtual void DrawLabel(const std::string& text, float fontSize, Color color, const Rect& rect) = 0;
  // `image` drawn into `rect` per `mode` (clipped to rect); `naturalScale`
  // is image pixels per logical pixel at the image's own size; `blurRadius`
  // (logical pixels as drawn) softens it.
  virtual void DrawImage(const CanvasImage& image, const Rect& rect, ResizeMode mode, float naturalScale,
                         std::optional<Color> tint, float blurRadius) = 0;
};

}  // namespace VirelantDesktop::render
