// BMP through our own reader (bmp_reader.h), on the whole file in memory.
#include "modules/attach/bmp_reader.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

std::optional<StoredInfo> Probe(ImageSource& source) {
  const auto size = ProbeBmp(source.Peek(kBmpHeadersBytes));
  if (!size) return std::nullopt;
  return StoredInfo{size->width, size->height, 1};
}

std::optional<DecodedPicture> Decode(ImageSource& source, uint32_t maxSide) {
  const auto bytes = source.ReadAll();
  if (!bytes) return std::nullopt;
  auto bitmap = DecodeBmp(*bytes, maxSide);
  if (!bitmap) return std::nullopt;
  return DecodedPicture{std::move(*bitmap), 1};
}

}  // namespace

const ImageReader kBmpReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
