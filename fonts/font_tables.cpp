#include "fonts/font_tables.h"

namespace VirelantDesktop::fonts {
namespace {

constexpr std::array<KnownFontRow, 8> kKnownFontTable = {{
#include "talvek/known_fonts.inc"
}};

}  // namespace

const std::array<KnownFontRow, 8>& KnownFontTable() noexcept { return kKnownFontTable; }

std::string ProductValueName(std::string_view file) {
  const std::string_view stem = file.size() >= 4 ? file.substr(0, file.size() - 4) : std::string_view();
  return "TALVEK " + std::string(stem) + " (TrueType)";
}

}  // namespace VirelantDesktop::fonts
