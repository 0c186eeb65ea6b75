#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "platform/pango_text.h"

namespace VirelantDesktop::platform {

namespace {

using render::AttributedText;
using render::ParagraphAttributes;

constexpr float kDefaultFontSize = 14;

// A PangoContext for the calling thread on its own default font map. Two of
// them: measuring must never see the matrix drawing last set.
class ThreadContext {
 public:
  ThreadContext() {
    context_ = pango_font_map_create_context(pango_cairo_font_map_get_default());
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
  }
  ~ThreadContext() { g_object_unref(context_); }
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;
  PangoContext* get() const { return context_; }

 private:
  PangoContext* context_;
};

PangoContext* MeasureContext() {
  thread_local ThreadContext context;
  return context.get();
}

PangoContext* DrawContext() {
  thread_local ThreadContext context;
  return context.get();
}

struct LayoutDeleter {
  void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

guint16 Channel16(uint8_t v) { return static_cast<guint16>(v * 257); }

int PangoUnits(double deviceUnits) {
  const double v = deviceUnits * PANGO_SCALE;
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(v, -1e9, 1e9));
}

bool IsSystemFamily(const std::string& family) {
  return family.empty() || family == "System" || family == "system-ui" || family == "sans-serif";
}

void Insert(PangoAttrList* list, PangoAttribute* attribute, guint start, guint end) {
  attribute->start_index = start;
  attribute->end_index = end;
  pango_attr_list_insert(list, attribute);
}

void AddColor(PangoAttrList* list, const render::Color& color, bool background, guint start, guint end) {
  const guint16 r = Channel16(color.r), g = Channel16(color.g), b = Channel16(color.b);
  Insert(list, background ? pango_attr_background_new(r, g, b) : pango_attr_foreground_new(r, g, b), start, end);
  if (color.a != 255) {
    // Pango takes 1..65535; 0 would mean "unset".
    const guint16 alpha = std::max<guint16>(1, Channel16(color.a));
    Insert(list, background ? pango_attr_background_alpha_new(alpha) : pango_attr_foreground_alpha_new(alpha), start,
           end);
  }
}

struct Built {
  LayoutPtr layout;
  int maxHeight = -1;  // Pango units; the bottom of the last allowed line, -1: no limit
};

// The one layout builder measuring and drawing share. Device pixels: sizes
// are logical pixels times `pointScale` (and font sizes times `fontScale`).
Built BuildLayout(PangoContext* context, const AttributedText& text, const ParagraphAttributes& paragraph,
                  float maxWidth, float pointScale, float fontScale) {
  const double scale = std::isfinite(pointScale) && pointScale > 0 ? pointScale : 1.0;
  const double fonts = std::isfinite(fontScale) && fontScale > 0 ? fontScale : 1.0;
  Built built;
  built.layout.reset(pango_layout_new(context));
  PangoLayout* layout = built.layout.get();

  std::string joined;
  PangoAttrList* attributes = pango_attr_list_new();
  std::optional<render::TextAlign> align;
  for (const render::TextFragment& fragment : text.fragments) {
    gchar* valid = g_utf8_make_valid(fragment.text.data(), static_cast<gssize>(fragment.text.size()));
    const guint start = static_cast<guint>(joined.size());
    joined += valid;
    g_free(valid);
    const guint end = static_cast<guint>(joined.size());
    if (start == end) continue;
    const render::TextAttributes& a = fragment.attributes;
    if (!align && a.textAlign) align = a.textAlign;
    if (a.color) AddColor(attributes, *a.color, false, start, end);
    if (a.backgroundColor && !a.backgroundColor->IsTransparent()) {
      AddColor(attributes, *a.backgroundColor, true, start, end);
    }
    const float size = a.fontSize && *a.fontSize > 0 ? *a.fontSize : kDefaultFontSize;
    Insert(attributes, pango_attr_size_new_absolute(PangoUnits(size * fonts * scale)), start, end);
    if (a.fontWeight) {
      Insert(attributes, pango_attr_weight_new(static_cast<PangoWeight>(std::clamp(*a.fontWeight, 100, 1000))),
             start, end);
    }
    if (a.fontStyle == render::FontStyle::Italic) Insert(attributes, pango_attr_style_new(PANGO_STYLE_ITALIC), start, end);
    if (a.fontFamily && !IsSystemFamily(*a.fontFamily)) {
      Insert(attributes, pango_attr_family_new(a.fontFamily->c_str()), start, end);
    }
    if (a.letterSpacing && *a.letterSpacing != 0) {
      Insert(attributes, pango_attr_letter_spacing_new(PangoUnits(*a.letterSpacing * scale)), start, end);
    }
    if (a.underline.value_or(false)) Insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), start, end);
    if (a.lineThrough.value_or(false)) Insert(attributes, pango_attr_strikethrough_new(TRUE), start, end);
#if PANGO_VERSION_CHECK(1, 50, 0)
    if (a.lineHeight && *a.lineHeight > 0) {
      Insert(attributes, pango_attr_line_height_new_absolute(PangoUnits(*a.lineHeight * fonts * scale)), start, end);
    }
#endif
  }

  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, kDefaultFontFamily);
  pango_font_description_set_absolute_size(font, PangoUnits(kDefaultFontSize * fonts * scale));
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, joined.data(), static_cast<int>(joined.size()));
  pango_layout_set_attributes(layout, attributes);
  pango_attr_list_unref(attributes);

  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  if (std::isfinite(maxWidth) && maxWidth >= 0) pango_layout_set_width(layout, PangoUnits(maxWidth * scale));
  switch (align.value_or(render::TextAlign::Auto)) {
    case render::TextAlign::Center:
      pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
      break;
    case render::TextAlign::Right:
      pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
      break;
    case render::TextAlign::Justify:
      pango_layout_set_justify(layout, TRUE);
      break;
    case render::TextAlign::Left:
    case render::TextAlign::Auto:
      break;
  }

  const int limit = paragraph.numberOfLines;
  if (limit > 0) {
    PangoEllipsizeMode mode = PANGO_ELLIPSIZE_END;
    switch (paragraph.ellipsizeMode) {
      case render::EllipsizeMode::Tail:
        mode = PANGO_ELLIPSIZE_END;
        break;
      case render::EllipsizeMode::Head:
        mode = PANGO_ELLIPSIZE_START;
        break;
      case render::EllipsizeMode::Middle:
        mode = PANGO_ELLIPSIZE_MIDDLE;
        break;
      case render::EllipsizeMode::Clip:
        mode = PANGO_ELLIPSIZE_NONE;
        break;
    }
    // Limit the whole text, not each "\n" paragraph as a negative height
    // would: the height down to the bottom of the last allowed line.
    if (pango_layout_get_line_count(layout) > limit) {
      PangoLayoutIter* iter = pango_layout_get_iter(layout);
      for (int i = 1; i < limit; ++i) pango_layout_iter_next_line(iter);
      int top = 0, bottom = 0;
      pango_layout_iter_get_line_yrange(iter, &top, &bottom);
      pango_layout_iter_free(iter);
      built.maxHeight = bottom;
      pango_layout_set_ellipsize(layout, mode);
      if (mode != PANGO_ELLIPSIZE_NONE) pango_layout_set_height(layout, bottom);
    }
  }
  return built;
}

double CeilDevice(int pangoUnits) { return std::ceil(static_cast<double>(pangoUnits) / PANGO_SCALE - 1e-6); }

}  // namespace

render::Size PangoTextMeasurer::Measure(const AttributedText& text, const ParagraphAttributes& paragraph,
                                        float maxWidth, float pointScale, float fontScale) const {
  if (text.fragments.empty()) return {};
  const float scale = std::isfinite(pointScale) && pointScale > 0 ? pointScale : 1.0f;
  Built built = BuildLayout(MeasureContext(), text, paragraph, maxWidth, scale, fontScale);
  PangoRectangle logical{};
  pango_layout_get_extents(built.layout.get(), nullptr, &logical);
  int height = logical.height;
  if (built.maxHeight >= 0) height = std::min(height, built.maxHeight);
  float width = static_cast<float>(CeilDevice(logical.width) / scale);
  if (std::isfinite(maxWidth) && maxWidth >= 0) width = std::min(width, maxWidth);
  return {std::max(width, 0.0f), static_cast<float>(std::max(CeilDevice(height), 0.0) / scale)};
}

void DrawParagraph(cairo_t* cr, const AttributedText& text, const ParagraphAttributes& paragraph,
                   const render::Rect& box, float pointScale, float fontScale) {
  if (text.fragments.empty()) return;
  const float scale = std::isfinite(pointScale) && pointScale > 0 ? pointScale : 1.0f;
  cairo_save(cr);
  cairo_translate(cr, box.x, box.y);
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);
  PangoContext* context = DrawContext();
  pango_cairo_update_context(cr, context);
  Built built = BuildLayout(context, text, paragraph, box.width, scale, fontScale);
  cairo_set_source_rgba(cr, 0, 0, 0, 1);  // text without a colour is black
  pango_cairo_show_layout(cr, built.layout.get());
  cairo_restore(cr);
}

void DrawPlainLine(cairo_t* cr, const std::string& text, float fontSize, render::Color color, float x, float y,
                   float pointScale) {
  const float scale = std::isfinite(pointScale) && pointScale > 0 ? pointScale : 1.0f;
  AttributedText single;
  render::TextFragment fragment;
  fragment.text = text;
  fragment.attributes.fontSize = fontSize;
  fragment.attributes.color = color;
  single.fragments.push_back(std::move(fragment));
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);
  PangoContext* context = DrawContext();
  pango_cairo_update_context(cr, context);
  Built built = BuildLayout(context, single, {}, render::kUnbounded, scale, 1);
  pango_layout_set_ellipsize(built.layout.get(), PANGO_ELLIPSIZE_NONE);
  pango_cairo_show_layout(cr, built.layout.get());
  cairo_restore(cr);
}

}  // namespace VirelantDesktop::platform
