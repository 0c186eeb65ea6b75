// Fuzzes our BMP reader: no input crashes or reads outside the file, a file
// that decodes also probes, and the picture has the probed size scaled.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "modules/attach/bmp_reader.h"

namespace attach = VirelantDesktop::attach;

namespace {
constexpr uint32_t kMaxSide = 40;
// RLE lets a few bytes describe up to the reader's limit of 2^27 pixels,
// which is correct but takes seconds per input; the search skips those.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 22;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const auto probed = attach::ProbeBmp(file);
  const auto headOnly = attach::ProbeBmp(file.substr(0, attach::kBmpHeadersBytes));
  if (probed.has_value() != headOnly.has_value() || (probed && !(*probed == *headOnly))) __builtin_trap();

  if (probed && uint64_t{probed->width} * probed->height > kMaxFuzzPixels) return 0;
  const auto bitmap = attach::DecodeBmp(file, kMaxSide);
  if (!bitmap) return 0;
  if (!probed) __builtin_trap();
  const attach::PixelSize expected = attach::ScaledSize(probed->width, probed->height, kMaxSide);
  if (bitmap->width != expected.width || bitmap->height != expected.height ||
      bitmap->bgra.size() != size_t{bitmap->width} * bitmap->height * 4) {
    __builtin_trap();
  }
  return 0;
}
