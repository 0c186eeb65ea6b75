#include "modules/attach/dib_to_bmp.h"

#include <cstdint>
#include <cstdlib>

namespace VirelantDesktop::attach {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;

uint32_t U32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}
uint16_t U16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}
void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

uint64_t Side(std::string_view dib, size_t at) {
  return static_cast<uint64_t>(std::llabs(static_cast<int64_t>(static_cast<int32_t>(U32(dib, at)))));
}

}  // namespace

uint64_t DibPixelCount(std::string_view dib) { return dib.size() < 40 ? 0 : Side(dib, 4) * Side(dib, 8); }

std::string DibToBmp(std::string_view dib) {
  const uint64_t size = dib.size();
  if (size < 40) return {};
  const uint64_t headerSize = U32(dib, 0);
  if (headerSize < 40 || headerSize > size) return {};
  const uint32_t compression = U32(dib, 16);
  const uint64_t masks = headerSize == 40 && compression == kBiBitFields ? 12 : 0;

  const uint64_t width = Side(dib, 4), height = Side(dib, 8);
  if (width == 0 || height == 0 || width * height > kMaxClipboardPixels) return {};

  const uint64_t bitCount = U16(dib, 14);
  if (compression == kBiRgb || compression == kBiBitFields) {
    if (headerSize + masks > size) return {};
    const uint64_t stride = (bitCount * width + 31) / 32 * 4;
    if (stride * height > size - headerSize - masks) return {};
  }

  uint64_t entries = U32(dib, 32);
  if (entries == 0 && bitCount >= 1 && bitCount <= 8) entries = uint64_t{1} << bitCount;
  const uint64_t offset = 14 + headerSize + masks + 4 * entries;
  if (offset - 14 > size || size + 14 > UINT32_MAX) return {};

  std::string out;
  out.reserve(static_cast<size_t>(size + 14));
  out += "BM";
  PutU32(out, static_cast<uint32_t>(size + 14));
  PutU32(out, 0);  // two reserved words
  PutU32(out, static_cast<uint32_t>(offset));
  out.append(dib);
  return out;
}

}  // namespace VirelantDesktop::attach
