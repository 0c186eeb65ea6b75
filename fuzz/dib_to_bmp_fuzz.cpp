// Clipboard bitmaps of any shape: the .bmp made of them is either empty or
// the bytes unchanged behind a consistent file header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "modules/attach/dib_to_bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view dib(reinterpret_cast<const char*>(data), size);
  const std::string bmp = VirelantDesktop::attach::DibToBmp(dib);
  if (bmp.empty()) return 0;
  if (bmp.size() != size + 14 || bmp.compare(0, 2, "BM") != 0 || bmp.compare(14, std::string::npos, dib) != 0) {
    std::abort();
  }
  uint32_t offset = 0;
  for (int i = 0; i < 4; ++i) offset |= static_cast<uint32_t>(static_cast<unsigned char>(bmp[10 + i])) << (8 * i);
  if (offset < 54 || offset - 14 > size) std::abort();
  return 0;
}
