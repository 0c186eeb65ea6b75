#include "render/estimated_text_measurer.h"

#include <algorithm>
#include <cmath>

namespace VirelantDesktop::render {
namespace {

constexpr float kDefaultFontSize = 14;
constexpr float kAdvancePerEm = 0.55f;   // average advance of a proportional font
constexpr float kLinePerEm = 1.2f;

float RoundUp(float value, float scale) { return std::ceil(value * scale - 0.001f) / scale; }

}  // namespace

Size EstimatedTextMeasurer::Measure(const AttributedText& text, const ParagraphAttributes& paragraph, float maxWidth,
                                    float pointScale, float fontScale) const {
  if (pointScale <= 0) pointScale = 1;
  if (fontScale <= 0) fontScale = 1;
  float lineWidth = 0, widest = 0, lineHeight = 0, height = 0;
  int lines = 0;
  auto endLine = [&] {
    widest = std::max(widest, lineWidth);
    height += lineHeight;
    ++lines;
    lineWidth = 0;
  };
  for (const auto& fragment : text.fragments) {
    const float size = fragment.attributes.fontSize.value_or(kDefaultFontSize) * fontScale;
    const float advance = size * kAdvancePerEm + fragment.attributes.letterSpacing.value_or(0);
    const float line = fragment.attributes.lineHeight.value_or(size * kLinePerEm);
    for (size_t i = 0; i < fragment.text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(fragment.text[i]);
      if ((c & 0xC0) == 0x80) continue;  // continuation byte of a UTF-8 sequence
      lineHeight = std::max(lineHeight, line);
      if (c == '\n') {
        endLine();
        continue;
      }
      if (lineWidth + advance > maxWidth && lineWidth > 0) endLine();
      lineWidth += advance;
    }
  }
  if (lineWidth > 0 || lines == 0) endLine();
  if (paragraph.numberOfLines > 0 && lines > paragraph.numberOfLines && lines > 0) {
    height = height / static_cast<float>(lines) * static_cast<float>(paragraph.numberOfLines);
  }
  widest = std::min(widest, maxWidth);
  return Size{RoundUp(widest, pointScale), RoundUp(height, pointScale)};
}

}  // namespace VirelantDesktop::render
