#include "modules/attach/area_scaler.h"

#include <algorithm>
#include <cstring>

namespace VirelantDesktop::attach {

PixelSize ScaledSize(uint32_t width, uint32_t height, uint32_t maxSide) noexcept {
  const uint64_t longer = std::max(width, height);
  if (maxSide == 0 || longer <= maxSide) return {width, height};
  // 64-bit: a side times the limit overflows 32 bits from about 2 million up.
  const auto side = [&](uint64_t s) {
    return static_cast<uint32_t>(std::max<uint64_t>(1, (s * maxSide + longer / 2) / longer));
  };
  return {side(width), side(height)};
}

std::optional<AreaScaler> AreaScaler::Create(PixelSize source, PixelSize target) {
  if (target.width == 0 || target.height == 0 || target.width > source.width ||
      target.height > source.height ||
      uint64_t{source.width} * source.height > kMaxDecodePixels) {
    return std::nullopt;
  }
  AreaScaler scaler;
  scaler.source_ = source;
  scaler.target_ = target;
  scaler.copyOnly_ = source == target;
  scaler.out_.width = target.width;
  scaler.out_.height = target.height;
  scaler.out_.bgra.resize(size_t{target.width} * target.height * 4);
  if (scaler.copyOnly_) return scaler;

  // Source column x covers [x*tw, (x+1)*tw) and target column X covers
  // [X*sw, (X+1)*sw) on a common axis; when shrinking a source column meets
  // at most two target columns.
  const uint64_t sw = source.width, tw = target.width;
  scaler.firstColumn_.resize(sw);
  scaler.firstWeight_.resize(sw);
  for (uint64_t x = 0; x < sw; ++x) {
    const uint64_t start = x * tw;
    const uint64_t column = start / sw;
    const uint64_t boundary = (column + 1) * sw;
    scaler.firstColumn_[x] = static_cast<uint32_t>(column);
    scaler.firstWeight_[x] = static_cast<uint32_t>(std::min(start + tw, boundary) - start);
  }
  scaler.rowSum_.resize(size_t{target.width} * 4);
  scaler.acc_[0].assign(size_t{target.width} * 4, 0);
  scaler.acc_[1].assign(size_t{target.width} * 4, 0);
  return scaler;
}

void AreaScaler::PushRow(const uint8_t* bgra) noexcept {
  if (rowsIn_ >= source_.height) return;
  const uint32_t y = rowsIn_++;
  if (copyOnly_) {
    std::memcpy(out_.bgra.data() + size_t{y} * source_.width * 4, bgra, size_t{source_.width} * 4);
    return;
  }

  const uint32_t tw = target_.width;
  std::fill(rowSum_.begin(), rowSum_.end(), 0);
  bool opaque = true;
  for (uint32_t x = 0; x < source_.width; ++x) opaque = opaque && bgra[size_t{x} * 4 + 3] == 255;
  if (opaque) {
    // Most rows: colour times 255 is the premultiplied colour, so multiply
    // once per target column instead of once per source pixel.
    for (uint32_t x = 0; x < source_.width; ++x) {
      const uint8_t* p = bgra + size_t{x} * 4;
      const uint64_t w1 = firstWeight_[x];
      uint64_t* sum = &rowSum_[size_t{firstColumn_[x]} * 4];
      sum[0] += p[0] * w1;
      sum[1] += p[1] * w1;
      sum[2] += p[2] * w1;
      if (w1 != tw) {
        const uint64_t w2 = tw - w1;
        sum[4] += p[0] * w2;
        sum[5] += p[1] * w2;
        sum[6] += p[2] * w2;
      }
    }
    const uint64_t fullAlpha = uint64_t{255} * source_.width;  // every column's weights add up to the source width
    for (size_t i = 0; i < rowSum_.size(); i += 4) {
      rowSum_[i] *= 255, rowSum_[i + 1] *= 255, rowSum_[i + 2] *= 255;
      rowSum_[i + 3] = fullAlpha;
    }
  } else {
    for (uint32_t x = 0; x < source_.width; ++x) {
      const uint8_t* p = bgra + size_t{x} * 4;
      const uint64_t a = p[3];
      const uint64_t b = p[0] * a, g = p[1] * a, r = p[2] * a;
      const uint64_t w1 = firstWeight_[x];
      uint64_t* sum = &rowSum_[size_t{firstColumn_[x]} * 4];
      sum[0] += b * w1;
      sum[1] += g * w1;
      sum[2] += r * w1;
      sum[3] += a * w1;
      if (w1 != tw) {
        const uint64_t w2 = tw - w1;
        sum[4] += b * w2;
        sum[5] += g * w2;
        sum[6] += r * w2;
        sum[7] += a * w2;
      }
    }
  }

  // Vertically the same split: source row y covers [y*th, (y+1)*th), target
  // row accRow_ ends at (accRow_+1)*sh.
  const uint64_t th = target_.height, sh = source_.height;
  const uint64_t start = uint64_t{y} * th, end = start + th;
  const uint64_t boundary = (uint64_t{accRow_} + 1) * sh;
  const uint64_t v1 = std::min(end, boundary) - start;
  const uint64_t v2 = th - v1;
  for (size_t i = 0; i < rowSum_.size(); ++i) acc_[0][i] += rowSum_[i] * v1;
  if (v2 != 0) {
    for (size_t i = 0; i < rowSum_.size(); ++i) acc_[1][i] += rowSum_[i] * v2;
  }
  if (end >= boundary) {
    FinishRow(accRow_);
    std::swap(acc_[0], acc_[1]);
    std::fill(acc_[1].begin(), acc_[1].end(), 0);
    ++accRow_;
  }
}

namespace {

// Exact n / d for one divisor used many times: a floating-point estimate,
// off by at most one for the numerators here (below 2^50), then corrected.
class Divider {
 public:
  explicit Divider(uint64_t d) : d_(d), inverse_(1.0 / static_cast<double>(d)) {}
  uint64_t operator()(uint64_t n) const {
    uint64_t q = static_cast<uint64_t>(static_cast<double>(n) * inverse_);
    while (q > 0 && q * d_ > n) --q;
    while ((q + 1) * d_ <= n) ++q;
    return q;
  }

 private:
  uint64_t d_;
  double inverse_;
};

uint8_t Clamp(uint64_t v) { return static_cast<uint8_t>(std::min<uint64_t>(255, v)); }

}  // namespace

void AreaScaler::FinishRow(uint32_t y) noexcept {
  if (y >= target_.height) return;
  const uint64_t area = uint64_t{source_.width} * source_.height;  // the weight of one target pixel
  const uint64_t opaqueSum = area * 255;
  const Divider byArea(area), byOpaqueSum(opaqueSum);
  uint8_t* out = out_.bgra.data() + size_t{y} * target_.width * 4;
  const std::vector<uint64_t>& acc = acc_[0];
  for (uint32_t x = 0; x < target_.width; ++x) {
    const uint64_t* s = &acc[size_t{x} * 4];
    const uint64_t alphaSum = s[3];
    uint8_t* p = out + size_t{x} * 4;
    if (alphaSum == opaqueSum) {  // the usual case, without a division
      for (int c = 0; c < 3; ++c) p[c] = Clamp(byOpaqueSum(s[c] + opaqueSum / 2));
      p[3] = 255;
      continue;
    }
    for (int c = 0; c < 3; ++c) p[c] = alphaSum == 0 ? 0 : Clamp((s[c] + alphaSum / 2) / alphaSum);
    p[3] = Clamp(byArea(alphaSum + area / 2));
  }
}

std::optional<Bitmap> ScaleBitmap(const Bitmap& source, PixelSize target) {
  if (source.bgra.size() != size_t{source.width} * source.height * 4) return std::nullopt;
  auto scaler = AreaScaler::Create({source.width, source.height}, target);
  if (!scaler) return std::nullopt;
  for (uint32_t y = 0; y < source.height; ++y) scaler->PushRow(source.bgra.data() + size_t{y} * source.width * 4);
  return scaler->Take();
}

}  // namespace VirelantDesktop::attach
