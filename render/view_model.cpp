#include "render/view_model.h"

namespace VirelantDesktop::render {

void TextAttributes::InheritFrom(const TextAttributes& outer) {
  auto fill = [](auto& mine, const auto& theirs) {
    if (!mine && theirs) mine = theirs;
  };
  fill(color, outer.color);
  fill(backgroundColor, outer.backgroundColor);
  fill(fontSize, outer.fontSize);
  fill(fontWeight, outer.fontWeight);
  fill(fontStyle, outer.fontStyle);
  fill(fontFamily, outer.fontFamily);
  fill(lineHeight, outer.lineHeight);
  fill(letterSpacing, outer.letterSpacing);
  fill(underline, outer.underline);
  fill(lineThrough, outer.lineThrough);
  fill(textAlign, outer.textAlign);
}

bool AttributedText::Empty() const {
  for (const TextFragment& fragment : fragments) {
    if (!fragment.text.empty()) return false;
  }
  return true;
}

}  // namespace VirelantDesktop::render
