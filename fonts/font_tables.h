// The product's font files: the compiled-in table of shipped files and the
// table of known builds (size and hash of each file as shipped, and the face
// name older installations registered it under).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace VirelantDesktop::fonts {

struct FontFileRow {
  std::string_view file;      // in "Fonts/" beside the executable
  std::string_view faceName;  // the face the file declares
};

inline constexpr std::array<FontFileRow, 8> kFontFileTable = {{
    {"SUIT-Variable.ttf", "TALVEK Sans Regular"},
    {"SUIT-Variable_medium.ttf", "TALVEK Sans Medium"},
    {"SUIT-Variable_semibold.ttf", "TALVEK Sans SemiBold"},
    {"SUIT-Variable_bold.ttf", "TALVEK Sans Bold"},
    {"SUIT-Variable_extrabold.ttf", "TALVEK Sans ExtraBold"},
    {"SUIT-Variable_black.ttf", "TALVEK Sans Black"},
    {"NotoSansJP-VF.ttf", "TALVEK Sans JP Regular"},
    {"NotoSansJP-VF_bold.ttf", "TALVEK Sans JP Bold"},
}};

inline constexpr std::string_view kSansFamily = "TALVEK Sans";
inline constexpr std::string_view kSansJpFamily = "TALVEK Sans JP";

struct KnownFontRow {
  std::string_view olderFaceName;
  std::string_view file;
  std::uint64_t size;
  std::string_view hash;  // FontFileHash, 8 lower-case hexadecimal digits
};

// Measured at build time from the files this build ships.
const std::array<KnownFontRow, 8>& KnownFontTable() noexcept;

// The registration value of a shipped file: "TALVEK " + the file name
// without its last four characters + " (TrueType)".
std::string ProductValueName(std::string_view file);

}  // namespace VirelantDesktop::fonts
