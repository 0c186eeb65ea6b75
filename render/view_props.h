// The typed values a view draws with, parsed from the renderer's flat props.
// A value of the wrong type, or a number that is not finite, counts as unset.
#pragma once

#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

// Visual props every view has. Start/end border sides and corners resolve
// with `direction` (the node's own "direction" prop wins when it names one);
// the laid-out border widths in LayoutMetrics are the ones to draw with.
ViewStyle ParseViewStyle(const Props& props, LayoutDirection direction = LayoutDirection::Ltr);

// Text run attributes of an RCTText / RCTParagraph / RCTVirtualText.
TextAttributes ParseTextAttributes(const Props& props);

ParagraphAttributes ParseParagraphAttributes(const Props& props);

// "source" (or "src"): one {uri,width,height,scale} object, an array of them,
// or a plain URI string; "resizeMode", "tintColor", "blurRadius".
ImageProps ParseImageProps(const Props& props);

// The value of a "transform" prop (an array of one-key operations) as one
// affine, composed in array order; identity when nothing usable is there.
Affine ParseTransform(const Props& transform);

// True when the props ask for hover events.
bool WantsHover(const Props& props);

// Numbers as the parsers read them: finite numbers only.
std::optional<double> FiniteNumber(const Props& value);

}  // namespace VirelantDesktop::render
