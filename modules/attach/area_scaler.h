// Shrinking a picture by area averaging, one source row at a time, so a
// decoder never needs the full-size picture in memory.
//
// Every destination pixel is the average of the source area it covers, with
// partly covered source pixels weighted by the covered fraction. Colours are
// weighted by alpha, so fully transparent pixels do not tint their
// neighbours; a destination pixel with no coverage at all gets colour 0. All
// arithmetic is exact integer work with rounding half up. No I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "modules/attach/image_processing.h"

namespace VirelantDesktop::attach {

struct PixelSize {
  uint32_t width = 0, height = 0;
  bool operator==(const PixelSize&) const = default;
};

// The size after limiting the longer side L to `maxSide` M: unchanged when
// L <= M or M is 0, otherwise each side s becomes max(1, (s*M + L/2) / L).
PixelSize ScaledSize(uint32_t width, uint32_t height, uint32_t maxSide) noexcept;

class AreaScaler {
 public:
  // Source rows of `source.width` BGRA pixels become a `target` picture. Both
  // target sides must lie between 1 and the source side (no enlarging) and
  // the source must hold at most kMaxDecodePixels; nullopt otherwise. Throws
  // std::bad_alloc when the buffers cannot be had.
  static std::optional<AreaScaler> Create(PixelSize source, PixelSize target);

  // Feeds the next source row, top to bottom; rows after the last are ignored.
  void PushRow(const uint8_t* bgra) noexcept;

  uint32_t RowsPushed() const noexcept { return rowsIn_; }
  bool Complete() const noexcept { return rowsIn_ == source_.height; }

  // The result; complete only after every source row was pushed.
  Bitmap Take() noexcept { return std::move(out_); }

 private:
  AreaScaler() = default;
  void FinishRow(uint32_t y) noexcept;

  PixelSize source_, target_;
  bool copyOnly_ = false;
  // Horizontal split of each source column: it adds `firstWeight_` to column
  // `firstColumn_` and the rest of target_.width to the next one.
  std::vector<uint32_t> firstColumn_, firstWeight_;
  std::vector<uint64_t> rowSum_;    // one source row, premultiplied B,G,R and alpha per target column
  std::vector<uint64_t> acc_[2];    // target rows being filled: current and next
  uint32_t rowsIn_ = 0;
  uint32_t accRow_ = 0;             // target row held in acc_[0]
  Bitmap out_;
};

// Scales a whole bitmap (a convenience over AreaScaler); nullopt when the
// sizes are not acceptable to AreaScaler::Create.
std::optional<Bitmap> ScaleBitmap(const Bitmap& source, PixelSize target);

}  // namespace VirelantDesktop::attach
