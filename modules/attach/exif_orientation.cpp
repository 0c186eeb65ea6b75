#include "modules/attach/exif_orientation.h"

#include <cstdint>

namespace VirelantDesktop::attach {
namespace {

constexpr uint16_t kOrientationTag = 274;
constexpr uint16_t kTypeShort = 3;

class Cursor {
 public:
  Cursor(std::string_view data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

  // False when [at, at+size) is outside the data.
  bool Has(uint64_t at, uint64_t size) const { return at <= data_.size() && size <= data_.size() - at; }

  uint64_t Get(uint64_t at, int size) const {
    uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
      const uint64_t byte = static_cast<unsigned char>(data_[at + (bigEndian_ ? i : size - 1 - i)]);
      value = (value << 8) | byte;
    }
    return value;
  }

 private:
  std::string_view data_;
  bool bigEndian_;
};

}  // namespace

int OrientationFromExif(std::string_view tiff) noexcept {
  if (tiff.substr(0, 6) == std::string_view("Exif\0\0", 6)) tiff.remove_prefix(6);
  if (tiff.size() < 8) return 1;
  const std::string_view order = tiff.substr(0, 2);
  if (order != "II" && order != "MM") return 1;
  const Cursor in(tiff, order == "MM");

  // Classic TIFF: 2-byte counts, 12-byte entries, 4-byte offsets. BigTIFF:
  // 8-byte counts, 20-byte entries, 8-byte offsets.
  const uint64_t magic = in.Get(2, 2);
  uint64_t ifd = 0;
  int countSize = 0, entrySize = 0, valueAt = 0;
  if (magic == 42) {
    ifd = in.Get(4, 4);
    countSize = 2, entrySize = 12, valueAt = 8;
  } else if (magic == 43 && tiff.size() >= 16 && in.Get(4, 2) == 8 && in.Get(6, 2) == 0) {
    ifd = in.Get(8, 8);
    countSize = 8, entrySize = 20, valueAt = 12;
  } else {
    return 1;
  }
  if (!in.Has(ifd, static_cast<uint64_t>(countSize))) return 1;
  const uint64_t entries = in.Get(ifd, countSize);
  const uint64_t first = ifd + static_cast<uint64_t>(countSize);
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t at = first + i * static_cast<uint64_t>(entrySize);
    if (!in.Has(at, static_cast<uint64_t>(entrySize))) return 1;
    if (in.Get(at, 2) != kOrientationTag) continue;
    if (in.Get(at + 2, 2) != kTypeShort || in.Get(at + 4, countSize == 2 ? 4 : 8) != 1) return 1;
    const uint64_t value = in.Get(at + static_cast<uint64_t>(valueAt), 2);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

}  // namespace VirelantDesktop::attach
