// Fuzzes the image readers of every format (JPEG, PNG, GIF, WebP, HEIF,
// TIFF, BMP, chosen by the leading bytes) and the EXIF orientation parser:
// no input crashes, a decoded picture is never larger than asked and its
// size agrees with the probe, and a decoded picture encodes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "modules/attach/area_scaler.h"
#include "modules/attach/exif_orientation.h"
#include "modules/attach/image_processing.h"

namespace attach = VirelantDesktop::attach;

namespace {
constexpr uint32_t kMaxSide = 48;
// Probed pictures above this are not decoded: a few bytes may claim up to
// the readers' own limit (2^27 pixels), and allocating that much per input
// would slow the search to a crawl. The limit itself is tested elsewhere.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 22;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const int exif = attach::OrientationFromExif(bytes);
  if (exif < 1 || exif > 8) __builtin_trap();
  const int orientation = attach::ReadOrientationFromMemory(bytes);
  if (orientation < 1 || orientation > 8) __builtin_trap();

  const attach::ProbedSize probed = attach::ProbeImageSizeFromMemory(bytes);
  if (probed.ok && (probed.width == 0 || probed.height == 0)) __builtin_trap();
  if (!probed.ok || uint64_t{probed.width} * probed.height > kMaxFuzzPixels) return 0;

  const auto bitmap = attach::DecodeOrientedFromMemory(bytes, kMaxSide);
  if (!bitmap) return 0;
  if (bitmap->width == 0 || bitmap->height == 0 || bitmap->width > kMaxSide || bitmap->height > kMaxSide ||
      bitmap->bgra.size() != size_t{bitmap->width} * bitmap->height * 4) {
    __builtin_trap();
  }
  if (!(attach::ScaledSize(probed.width, probed.height, kMaxSide) ==
        attach::PixelSize{bitmap->width, bitmap->height})) {
    __builtin_trap();
  }
  const bool opaque = attach::IsOpaque(*bitmap);
  if (!attach::EncodeImage(*bitmap, attach::ImageFormat::Jpeg, 0.7f, opaque)) __builtin_trap();
  if (!attach::EncodeImage(*bitmap, attach::ImageFormat::Png, 0.7f, opaque)) __builtin_trap();
  return 0;
}
