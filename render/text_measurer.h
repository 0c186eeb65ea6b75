// Text measurement for layout: the JS thread asks for a paragraph's size
// while Yoga runs. The platform implements it (Pango on Linux); tests give
// a simple stand-in.
#pragma once

#include <limits>

#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // The size `text` takes when wrapped at `maxWidth` (infinity: no wrap),
  // with at most `paragraph.numberOfLines` lines. Logical pixels, rounded
  // up to whole device pixels at `pointScale`. Any thread; may be called
  // concurrently from different threads.
  virtual Size Measure(const AttributedText& text, const ParagraphAttributes& paragraph, float maxWidth,
                       float pointScale, float fontScale) const = 0;
};

inline constexpr float kUnbounded = std::numeric_limits<float>::infinity();

}  // namespace VirelantDesktop::render
