// Colours as the renderer sends them: processColor's 32-bit 0xAARRGGBB
// number (possibly as a negative signed int), or a CSS colour string.
#pragma once

#include <optional>
#include <string_view>

#include "render/render_types.h"

namespace VirelantDesktop::render {

// The colour `value` names, or nothing when it names none (null, objects such
// as platform colours, malformed strings, non-finite numbers).
std::optional<Color> ParseColor(const Props& value);

// The CSS forms alone: "#rgb", "#rgba", "#rrggbb", "#rrggbbaa", "rgb()",
// "rgba()", "transparent" and the CSS colour names (case-insensitive).
std::optional<Color> ParseCssColor(std::string_view text);

}  // namespace VirelantDesktop::render
