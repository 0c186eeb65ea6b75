// Paragraph layout with Pango, shared by measuring (the JS thread, while
// Yoga runs) and drawing (the UI thread) so both break lines the same way.
//
// Threads: Pango's font maps and contexts are not safe to share, so each
// thread uses its own: the thread's default PangoCairo font map (per thread
// since Pango 1.32) and a thread_local PangoContext with fixed font options
// (no hinting of metrics), so sizes do not depend on the screen drawn to.
#pragma once

#include <cairo.h>

#include <string>

#include "render/text_measurer.h"
#include "render/view_model.h"

namespace VirelantDesktop::platform {

class PangoTextMeasurer final : public render::TextMeasurer {
 public:
  render::Size Measure(const render::AttributedText& text, const render::ParagraphAttributes& paragraph,
                       float maxWidth, float pointScale, float fontScale) const override;
};

// Draws `text` laid out at box.width, from box's top-left, on `cr` whose
// user space is logical pixels (device scale `pointScale` applied already).
void DrawParagraph(cairo_t* cr, const render::AttributedText& text, const render::ParagraphAttributes& paragraph,
                   const render::Rect& box, float pointScale, float fontScale);

// One line of plain text at `fontSize` logical pixels, from (x, y) (the
// top of the line), not wrapped.
void DrawPlainLine(cairo_t* cr, const std::string& text, float fontSize, render::Color color, float x, float y,
                   float pointScale);

// The family used when a fragment names none (or names the platform's UI font).
inline constexpr const char* kDefaultFontFamily = "Sans";

}  // namespace VirelantDesktop::platform
