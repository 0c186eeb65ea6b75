#include "modules/attach/image_format.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace VirelantDesktop::attach {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool IsHeifBrand(std::string_view brand) {
  static constexpr std::array<std::string_view, 12> kBrands = {
      "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1", "avif", "avis"};
  return std::find(kBrands.begin(), kBrands.end(), brand) != kBrands.end();
}

bool IsHeif(std::string_view head) {
  if (head.size() < 16 || head.substr(4, 4) != "ftyp") return false;
  uint32_t boxSize = 0;
  for (int i = 0; i < 4; ++i) boxSize = boxSize << 8 | static_cast<unsigned char>(head[static_cast<size_t>(i)]);
  if (boxSize < 16) return false;
  if (IsHeifBrand(head.substr(8, 4))) return true;
  // Compatible brands follow the major brand and its minor version.
  const size_t end = std::min<size_t>(boxSize, head.size());
  for (size_t at = 16; at + 4 <= end; at += 4) {
    if (IsHeifBrand(head.substr(at, 4))) return true;
  }
  return false;
}

}  // namespace

SourceFormat SniffFormat(std::string_view head) noexcept {
  head = head.substr(0, kSniffBytes);
  if (StartsWith(head, "\xFF\xD8\xFF")) return SourceFormat::Jpeg;
  if (StartsWith(head, "\x89PNG\r\n\x1A\n")) return SourceFormat::Png;
  if (StartsWith(head, "GIF87a") || StartsWith(head, "GIF89a")) return SourceFormat::Gif;
  if (StartsWith(head, "RIFF") && head.size() >= 12 && head.substr(8, 4) == "WEBP") return SourceFormat::WebP;
  if (StartsWith(head, std::string_view("II*\0", 4)) || StartsWith(head, std::string_view("MM\0*", 4)) ||
      StartsWith(head, std::string_view("II+\0", 4)) || StartsWith(head, std::string_view("MM\0+", 4))) {
    return SourceFormat::Tiff;
  }
  if (StartsWith(head, "BM")) return SourceFormat::Bmp;
  if (IsHeif(head)) return SourceFormat::Heif;
  return SourceFormat::Unknown;
}

}  // namespace VirelantDesktop::attach
