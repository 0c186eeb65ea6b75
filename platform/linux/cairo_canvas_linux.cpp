#include <algorithm>
#include <cmath>

#include "platform/cairo_canvas.h"

#include "render/components/box_blur.h"
#include "platform/pango_text.h"
#include "render/affine_math.h"
#include "render/components/image_painter.h"

namespace VirelantDesktop::platform {

namespace {

using render::Color;
using render::CornerRadii;
using render::Rect;

void SetColor(cairo_t* cr, Color c) { cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0); }

bool Finite(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height);
}

// A quarter ellipse from `from` to `to` radians about (cx, cy); a corner
// without radius is the point itself.
void Corner(cairo_t* cr, double cx, double cy, double rx, double ry, double from, double to) {
  if (rx <= 0 || ry <= 0) {
    cairo_line_to(cr, cx, cy);
    return;
  }
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  cairo_scale(cr, rx, ry);
  cairo_arc(cr, 0, 0, 1, from, to);
  cairo_restore(cr);
}

struct Radii {
  double rx[4] = {0, 0, 0, 0};  // top-left, top-right, bottom-right, bottom-left
  double ry[4] = {0, 0, 0, 0};
};

Radii Circular(const CornerRadii& r) {
  Radii out;
  const float v[4] = {r.topLeft, r.topRight, r.bottomRight, r.bottomLeft};
  for (int i = 0; i < 4; ++i) out.rx[i] = out.ry[i] = v[i];
  return out;
}

void RoundedPath(cairo_t* cr, double x, double y, double w, double h, const Radii& r) {
  constexpr double kPi = 3.14159265358979323846;
  cairo_new_sub_path(cr);
  if (r.rx[0] > 0 && r.ry[0] > 0) {
    Corner(cr, x + r.rx[0], y + r.ry[0], r.rx[0], r.ry[0], kPi, 1.5 * kPi);
  } else {
    cairo_move_to(cr, x, y);
  }
  Corner(cr, x + w - r.rx[1], y + r.ry[1], r.rx[1], r.ry[1], -0.5 * kPi, 0);
  Corner(cr, x + w - r.rx[2], y + h - r.ry[2], r.rx[2], r.ry[2], 0, 0.5 * kPi);
  Corner(cr, x + r.rx[3], y + h - r.ry[3], r.rx[3], r.ry[3], 0.5 * kPi, kPi);
  cairo_close_path(cr);
}

void RoundedRectPath(cairo_t* cr, const Rect& rect, const CornerRadii& radii) {
  const CornerRadii fitted = render::FitRadii(radii, {rect.width, rect.height});
  RoundedPath(cr, rect.x, rect.y, rect.width, rect.height, Circular(fitted));
}

}  // namespace

CairoCanvas::CairoCanvas(cairo_t* cr, float pointScale, float fontScale)
    : cr_(cr),
      pointScale_(std::isfinite(pointScale) && pointScale > 0 ? pointScale : 1.0f),
      fontScale_(std::isfinite(fontScale) && fontScale > 0 ? fontScale : 1.0f) {
  cairo_save(cr_);
  cairo_scale(cr_, pointScale_, pointScale_);
}

CairoCanvas::~CairoCanvas() {
  while (!groups_.empty()) PopGroupOpacity();
  for (; saves_ > 0; --saves_) cairo_restore(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::Save() {
  cairo_save(cr_);
  ++saves_;
}

void CairoCanvas::Restore() {
  if (saves_ == 0) return;
  cairo_restore(cr_);
  --saves_;
}

void CairoCanvas::Translate(float dx, float dy) {
  if (std::isfinite(dx) && std::isfinite(dy)) cairo_translate(cr_, dx, dy);
}

void CairoCanvas::Transform(const render::Affine& m) {
  if (m.IsIdentity()) return;
  if (!render::Invert(m)) {
    // A transform that flattens the view: nothing of it shows (and cairo
    // would refuse the matrix for good).
    cairo_new_path(cr_);
    cairo_rectangle(cr_, 0, 0, 0, 0);
    cairo_clip(cr_);
    return;
  }
  cairo_matrix_t matrix;
  cairo_matrix_init(&matrix, m.a, m.b, m.c, m.d, m.tx, m.ty);
  cairo_transform(cr_, &matrix);
}

void CairoCanvas::ClipRoundedRect(const Rect& rect, const CornerRadii& radii) {
  cairo_new_path(cr_);
  if (Finite(rect) && rect.width > 0 && rect.height > 0) RoundedRectPath(cr_, rect, radii);
  cairo_clip(cr_);  // an empty path clips everything away
}

void CairoCanvas::FillRoundedRect(const Rect& rect, const CornerRadii& radii, Color color) {
  if (color.IsTransparent() || !Finite(rect) || rect.width <= 0 || rect.height <= 0) return;
  cairo_new_path(cr_);
  RoundedRectPath(cr_, rect, radii);
  SetColor(cr_, color);
  cairo_fill(cr_);
}

void CairoCanvas::StrokeBorder(const Rect& rect, const render::EdgeInsets& widths, const render::BorderColors& colors,
                               const CornerRadii& radii) {
  if (!Finite(rect) || rect.width <= 0 || rect.height <= 0) return;
  auto clean = [](float v) { return std::isfinite(v) && v > 0 ? static_cast<double>(v) : 0.0; };
  const double x = rect.x, y = rect.y, w = rect.width, h = rect.height;
  double l = clean(widths.left), t = clean(widths.top), r = clean(widths.right), b = clean(widths.bottom);
  // Borders wider than the box meet in the middle.
  if (l + r > w) {
    const double f = w / (l + r);
    l *= f;
    r *= f;
  }
  if (t + b > h) {
    const double f = h / (t + b);
    t *= f;
    b *= f;
  }
  const CornerRadii outer = render::FitRadii(radii, {rect.width, rect.height});
  Radii inner;
  const double o[4] = {outer.topLeft, outer.topRight, outer.bottomRight, outer.bottomLeft};
  const double side[4][2] = {{l, t}, {r, t}, {r, b}, {l, b}};
  for (int i = 0; i < 4; ++i) {
    inner.rx[i] = std::max(0.0, o[i] - side[i][0]);
    inner.ry[i] = std::max(0.0, o[i] - side[i][1]);
  }
  auto ring = [&]() {
    cairo_new_path(cr_);
    RoundedPath(cr_, x, y, w, h, Circular(outer));
    if (w - l - r > 0 && h - t - b > 0) RoundedPath(cr_, x + l, y + t, w - l - r, h - t - b, inner);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
  };

  struct Edge {
    double width;
    Color color;
  };
  const Edge edges[4] = {{t, colors.top}, {r, colors.right}, {b, colors.bottom}, {l, colors.left}};
  bool same = true;
  std::optional<Color> first;
  for (const Edge& e : edges) {
    if (e.width <= 0) continue;
    if (first && !(*first == e.color)) same = false;
    if (!first) first = e.color;
  }
  if (!first) return;

  cairo_save(cr_);
  if (same) {
    if (!first->IsTransparent()) {
      ring();
      SetColor(cr_, *first);
      cairo_fill(cr_);
    }
    cairo_restore(cr_);
    return;
  }
  // Each edge fills the ring inside its own trapezoid, from the outer
  // corners to the inner ones.
  const double pts[4][8] = {
      {x, y, x + w, y, x + w - r, y + t, x + l, y + t},
      {x + w, y, x + w, y + h, x + w - r, y + h - b, x + w - r, y + t},
      {x + w, y + h, x, y + h, x + l, y + h - b, x + w - r, y + h - b},
      {x, y + h, x, y, x + l, y + t, x + l, y + h - b},
  };
  for (int i = 0; i < 4; ++i) {
    if (edges[i].width <= 0 || edges[i].color.IsTransparent()) continue;
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_move_to(cr_, pts[i][0], pts[i][1]);
    for (int k = 2; k < 8; k += 2) cairo_line_to(cr_, pts[i][k], pts[i][k + 1]);
    cairo_close_path(cr_);
    cairo_clip(cr_);
    ring();
    SetColor(cr_, edges[i].color);
    cairo_fill(cr_);
    cairo_restore(cr_);
  }
  cairo_restore(cr_);
}

void CairoCanvas::StrokeDashedRect(const Rect& rect, float width, Color color) {
  if (!Finite(rect) || !(width > 0) || !std::isfinite(width) || rect.width <= width || rect.height <= width) return;
  cairo_save(cr_);
  const double dashes[2] = {4, 2};
  cairo_set_dash(cr_, dashes, 2, 0);
  cairo_set_line_width(cr_, width);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x + width / 2.0, rect.y + width / 2.0, rect.width - width, rect.height - width);
  SetColor(cr_, color);
  cairo_stroke(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::PushGroupOpacity(float opacity) {
  cairo_push_group(cr_);
  groups_.push_back(std::clamp(std::isfinite(opacity) ? opacity : 1.0f, 0.0f, 1.0f));
}

void CairoCanvas::PopGroupOpacity() {
  if (groups_.empty()) return;
  const float opacity = groups_.back();
  groups_.pop_back();
  cairo_pop_group_to_source(cr_);
  cairo_paint_with_alpha(cr_, opacity);
}

void CairoCanvas::DrawParagraph(const render::AttributedText& text, const render::ParagraphAttributes& paragraph,
                                const Rect& rect) {
  if (!Finite(rect)) return;
  platform::DrawParagraph(cr_, text, paragraph, rect, pointScale_, fontScale_);
}

void CairoCanvas::DrawLabel(const std::string& text, float fontSize, Color color, const Rect& rect) {
  if (text.empty() || !Finite(rect) || rect.width <= 0 || rect.height <= 0) return;
  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x, rect.y, rect.width, rect.height);
  cairo_clip(cr_);
  DrawPlainLine(cr_, text, fontSize, color, rect.x, rect.y, pointScale_);
  cairo_restore(cr_);
}

std::shared_ptr<const CairoImage> CairoImage::Blurred(int radius) const {
  std::lock_guard lock(blurMutex_);
  for (const auto& [r, image] : blurred_) {
    if (r == radius) return image;
  }
  const int width = PixelWidth(), height = PixelHeight();
  cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(copy);
    return nullptr;
  }
  cairo_t* cr = cairo_create(copy);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, surface_, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(copy);
  render::BlurPixels(reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(copy)), width, height,
                     cairo_image_surface_get_stride(copy) / 4, static_cast<float>(radius));
  cairo_surface_mark_dirty(copy);
  auto image = std::make_shared<const CairoImage>(copy);
  constexpr size_t kKept = 3;
  if (blurred_.size() >= kKept) blurred_.erase(blurred_.begin());
  blurred_.emplace_back(radius, image);
  return image;
}

void CairoCanvas::DrawImage(const render::CanvasImage& image, const Rect& rect, render::ResizeMode mode,
                            float naturalScale, std::optional<Color> tint, float blurRadius) {
  const auto* cairoImage = dynamic_cast<const CairoImage*>(&image);
  if (cairoImage == nullptr || !Finite(rect) || rect.width <= 0 || rect.height <= 0) return;
  const int pw = cairoImage->PixelWidth(), ph = cairoImage->PixelHeight();
  const double scale = std::isfinite(naturalScale) && naturalScale > 0 ? naturalScale : 1.0;
  if (pw <= 0 || ph <= 0) return;
  const render::Size natural{static_cast<float>(pw / scale), static_cast<float>(ph / scale)};
  const Rect dest = render::ImageDestination(natural, rect, mode);
  if (!(dest.width > 0 && dest.height > 0)) return;
  std::shared_ptr<const CairoImage> blurred;
  if (std::isfinite(blurRadius) && blurRadius > 0) {
    // The radius is given as drawn; the blur runs on the image's pixels.
    const double imagePixels = blurRadius * pw / static_cast<double>(dest.width);
    const int radius = static_cast<int>(std::lround(std::min(imagePixels, double{render::kMaxBlurRadius})));
    if (radius > 0) blurred = cairoImage->Blurred(radius);
    if (blurred) cairoImage = blurred.get();
  }

  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x, rect.y, rect.width, rect.height);
  cairo_clip(cr_);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cairoImage->surface());
  cairo_matrix_t matrix;  // user space to image pixels
  cairo_matrix_init_scale(&matrix, pw / static_cast<double>(dest.width), ph / static_cast<double>(dest.height));
  cairo_matrix_translate(&matrix, -dest.x, -dest.y);
  cairo_pattern_set_matrix(pattern, &matrix);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
  cairo_pattern_set_extend(pattern, mode == render::ResizeMode::Repeat ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
  if (mode != render::ResizeMode::Repeat) {
    // Pad keeps the edges sharp; only the destination itself is painted.
    cairo_rectangle(cr_, dest.x, dest.y, dest.width, dest.height);
    cairo_clip(cr_);
  }
  if (tint) {
    SetColor(cr_, *tint);
    cairo_mask(cr_, pattern);
  } else {
    cairo_set_source(cr_, pattern);
    cairo_paint(cr_);
  }
  cairo_pattern_destroy(pattern);
  cairo_restore(cr_);
}

}  // namespace VirelantDesktop::platform
