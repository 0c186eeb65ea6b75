#include "render/components/box_blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace VirelantDesktop::render {
namespace {

// Widths of three boxes whose sum approximates a Gaussian of `sigma`.
void BoxSizes(float sigma, int sizes[3]) {
  const float ideal = std::sqrt(12.0f * sigma * sigma / 3.0f + 1.0f);
  int lower = static_cast<int>(std::floor(ideal));
  if (lower % 2 == 0) --lower;
  lower = std::max(lower, 1);
  const int upper = lower + 2;
  const float m = (12.0f * sigma * sigma - 3.0f * lower * lower - 12.0f * lower - 9.0f) / (-4.0f * lower - 4.0f);
  const int smaller = static_cast<int>(std::lround(m));
  for (int i = 0; i < 3; ++i) sizes[i] = i < smaller ? lower : upper;
}

// One box pass over `count` pixels `step` apart, into consecutive `out`.
void BoxLine(const uint32_t* in, uint32_t* out, int count, int step, int half) {
  uint32_t sum[4] = {0, 0, 0, 0};
  auto at = [&](int i) { return in[static_cast<std::ptrdiff_t>(std::clamp(i, 0, count - 1)) * step]; };
  auto add = [&](uint32_t p, int sign) {
    for (int c = 0; c < 4; ++c) sum[c] += static_cast<uint32_t>(sign * static_cast<int>((p >> (8 * c)) & 0xff));
  };
  for (int i = -half; i <= half; ++i) add(at(i), 1);
  const uint32_t width = static_cast<uint32_t>(2 * half + 1);
  for (int i = 0; i < count; ++i) {
    uint32_t p = 0;
    for (int c = 0; c < 4; ++c) p |= ((sum[c] + width / 2) / width) << (8 * c);
    out[i] = p;
    add(at(i + half + 1), 1);
    add(at(i - half), -1);
  }
}

}  // namespace

void BlurPixels(uint32_t* pixels, int width, int height, int stride, float radius) {
  if (pixels == nullptr || width <= 0 || height <= 0 || stride < width || !(radius >= 0.5f)) return;
  radius = std::min(radius, static_cast<float>(kMaxBlurRadius));
  int sizes[3];
  BoxSizes(radius, sizes);
  std::vector<uint32_t> line(static_cast<size_t>(std::max(width, height)));
  for (int size : sizes) {
    const int half = (size - 1) / 2;
    if (half <= 0) continue;
    for (int y = 0; y < height; ++y) {
      uint32_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
      BoxLine(row, line.data(), width, 1, half);
      std::copy(line.begin(), line.begin() + width, row);
    }
    for (int x = 0; x < width; ++x) {
      BoxLine(pixels + x, line.data(), height, stride, half);
      for (int y = 0; y < height; ++y) pixels[static_cast<std::ptrdiff_t>(y) * stride + x] = line[static_cast<size_t>(y)];
    }
  }
}

}  // namespace VirelantDesktop::render
