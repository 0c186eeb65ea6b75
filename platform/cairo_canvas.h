// The painters' Canvas on a cairo context, and the cairo image surfaces
// decoded images live in.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <optional>
#include <string>
#include <vector>

#include "render/components/canvas.h"

namespace VirelantDesktop::platform {

// An ARGB32 (premultiplied) image surface; owns one reference.
class CairoImage final : public render::CanvasImage {
 public:
  explicit CairoImage(cairo_surface_t* surface) : surface_(surface) {}
  ~CairoImage() override { cairo_surface_destroy(surface_); }
  CairoImage(const CairoImage&) = delete;
  CairoImage& operator=(const CairoImage&) = delete;

  cairo_surface_t* surface() const { return surface_; }
  int PixelWidth() const override { return cairo_image_surface_get_width(surface_); }
  int PixelHeight() const override { return cairo_image_surface_get_height(surface_); }
  size_t ByteSize() const {
    return static_cast<size_t>(cairo_image_surface_get_stride(surface_)) *
           static_cast<size_t>(cairo_image_surface_get_height(surface_));
  }
  // This image blurred by `radius` image pixels (whole pixels), made once
  // per radius and kept with the image (the last few radii).
  std::shared_ptr<const CairoImage> Blurred(int radius) const;

 private:
  cairo_surface_t* surface_;
  mutable std::mutex blurMutex_;  // guards blurred_ (an image may be drawn by more than one surface)
  mutable std::vector<std::pair<int, std::shared_ptr<const CairoImage>>> blurred_;
};

class CairoCanvas final : public render::Canvas {
 public:
  // Scales `cr` by `pointScale` (device pixels per logical pixel) so the
  // canvas works in logical pixels; the destructor gives `cr` back as it was.
  CairoCanvas(cairo_t* cr, float pointScale, float fontScale);
  ~CairoCanvas() override;
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  void Save() override;
  void Restore() override;
  void Translate(float dx, float dy) override;
  void Transform(const render::Affine& m) override;
  void ClipRoundedRect(const render::Rect& rect, const render::CornerRadii& radii) override;
  void FillRoundedRect(const render::Rect& rect, const render::CornerRadii& radii, render::Color color) override;
  void StrokeBorder(const render::Rect& rect, const render::EdgeInsets& widths, const render::BorderColors& colors,
                    const render::CornerRadii& radii) override;
  void StrokeDashedRect(const render::Rect& rect, float width, render::Color color) override;
  void PushGroupOpacity(float opacity) override;
  void PopGroupOpacity() override;
  void DrawParagraph(const render::AttributedText& text, const render::ParagraphAttributes& paragraph,
                     const render::Rect& rect) override;
  void DrawLabel(const std::string& text, float fontSize, render::Color color, const render::Rect& rect) override;
  void DrawImage(const render::CanvasImage& image, const render::Rect& rect, render::ResizeMode mode,
                 float naturalScale, std::optional<render::Color> tint, float blurRadius) override;

 private:
  cairo_t* cr_;
  float pointScale_;
  float fontScale_;
  int saves_ = 0;
  std::vector<float> groups_;  // opacities of the open groups
};

}  // namespace VirelantDesktop::platform
