// A text measurer without fonts: an average advance per character and a
// line height from the font size. For runs without a display (the dev
// runner, tests); the window measures with real fonts.
#pragma once

#include "render/text_measurer.h"

namespace VirelantDesktop::render {

class EstimatedTextMeasurer final : public TextMeasurer {
 public:
  Size Measure(const AttributedText& text, const ParagraphAttributes& paragraph, float maxWidth, float pointScale,
               float fontScale) const override;
};

}  // namespace VirelantDesktop::render
