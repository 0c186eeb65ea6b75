// Colour parsing on what a bundle may send.
//
// ParseCssColor on the raw bytes:
//  - ASCII case and surrounding whitespace never change the result;
//  - "#rgb" / "#rrggbb" are opaque, "transparent" has alpha 0;
//  - a parsed colour written back as "#rrggbbaa" and as "rgb(r g b / a)"
//    parses to the same colour;
//  - ParseColor on the same text as a JSON string agrees with it.
// ParseColor on the bytes as JSON (every nested value too, when they are JSON):
//  - an integer names the colour of its low 32 bits, 0xAARRGGBB;
//  - a float names a colour exactly when it is a whole number in range;
//  - a string agrees with ParseCssColor; null, booleans, arrays and objects
//    name none.
// Seeds: fuzz/corpus/color.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "render/color.h"

using VirelantDesktop::render::Color;
using VirelantDesktop::render::ParseColor;
using VirelantDesktop::render::ParseCssColor;
using VirelantDesktop::render::Props;

namespace {

Color FromArgb(uint32_t argb) {
  return Color{static_cast<uint8_t>(argb >> 24), static_cast<uint8_t>(argb >> 16), static_cast<uint8_t>(argb >> 8),
               static_cast<uint8_t>(argb)};
}

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsCssSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsCssSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view text, std::string_view lowerWord) {
  if (text.size() != lowerWord.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerWord[i]) return false;
  }
  return true;
}

void CheckCss(std::string_view text) {
  const std::optional<Color> color = ParseCssColor(text);

  std::string shouted(text);
  for (char& c : shouted) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (ParseCssColor(shouted) != color) __builtin_trap();
  if (ParseCssColor(" \t" + std::string(text) + "\n ") != color) __builtin_trap();
  if (ParseColor(Props(std::string(text))) != color) __builtin_trap();

  if (!color) return;
  const std::string_view core = Trimmed(text);
  if (core.empty() || core.size() > 64) __builtin_trap();
  if (core[0] == '#' && (core.size() == 4 || core.size() == 7) && color->a != 255) __builtin_trap();
  if (EqualsNoCase(core, "transparent") && *color != Color{0, 0, 0, 0}) __builtin_trap();

  char hex[16];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x%02x", color->r, color->g, color->b, color->a);
  if (ParseCssColor(hex) != color) __builtin_trap();
  char function[64];
  std::snprintf(function, sizeof function, "rgb(%u %u %u / %.9g)", color->r, color->g, color->b,
                color->a / 255.0);
  if (ParseCssColor(function) != color) __builtin_trap();
}

void CheckJson(const Props& value, int depth) {
  const std::optional<Color> color = ParseColor(value);
  if (value.is_number_unsigned()) {
    if (color != FromArgb(static_cast<uint32_t>(value.get<uint64_t>()))) __builtin_trap();
  } else if (value.is_number_integer()) {
    if (color != FromArgb(static_cast<uint32_t>(value.get<int64_t>()))) __builtin_trap();
  } else if (value.is_number_float()) {
    const double v = value.get<double>();
    const bool whole = std::isfinite(v) && v == std::floor(v) && v >= -2147483648.0 && v <= 4294967295.0;
    if (whole ? color != FromArgb(static_cast<uint32_t>(static_cast<int64_t>(v))) : color.has_value()) {
      __builtin_trap();
    }
  } else if (value.is_string()) {
    if (color != ParseCssColor(value.get_ref<const std::string&>())) __builtin_trap();
  } else if (color) {
    __builtin_trap();
  }
  if (depth >= 8 || !value.is_structured()) return;
  for (const Props& member : value) CheckJson(member, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckCss(std::string_view(reinterpret_cast<const char*>(data), size));
  const Props value = Props::parse(data, data + size, nullptr, false);
  if (!value.is_discarded()) CheckJson(value, 0);
  return 0;
}
