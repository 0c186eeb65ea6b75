// The blur's arithmetic: what spreads, what is kept, what is left alone.
#include "render/components/box_blur.h"

#include <gtest/gtest.h>

#include <vector>

namespace VirelantDesktop::render {
namespace {

uint32_t Alpha(uint32_t p) { return p >> 24; }

TEST(BoxBlur, ASinglePointSpreadsEvenlyAndKeepsItsWeight) {
  constexpr int kSize = 41, kStride = 48;  // rows padded, as cairo's are
  std::vector<uint32_t> pixels(kStride * kSize, 0);
  pixels[20 * kStride + 20] = 0xffffffffu;
  pixels[20 * kStride + 45] = 0x12345678u;  // in the padding: untouched
  BlurPixels(pixels.data(), kSize, kSize, kStride, 3);
  EXPECT_EQ(pixels[20 * kStride + 45], 0x12345678u);
  EXPECT_LT(Alpha(pixels[20 * kStride + 20]), 255u);
  EXPECT_GT(Alpha(pixels[20 * kStride + 20]), 0u);
  // Symmetric about the point, falling off with distance.
  EXPECT_EQ(pixels[20 * kStride + 17], pixels[20 * kStride + 23]);
  EXPECT_EQ(pixels[17 * kStride + 20], pixels[23 * kStride + 20]);
  EXPECT_GE(Alpha(pixels[20 * kStride + 20]), Alpha(pixels[20 * kStride + 23]));
  EXPECT_EQ(pixels[0], 0u) << "far away nothing arrives";
}

TEST(BoxBlur, UniformImagesTinyRadiiAndBadArgumentsAreLeftAsTheyAre) {
  std::vector<uint32_t> uniform(30 * 20, 0xff336699u);
  BlurPixels(uniform.data(), 30, 20, 30, 5);
  for (uint32_t p : uniform) ASSERT_EQ(p, 0xff336699u) << "edges extend, nothing fades";

  std::vector<uint32_t> dots(10 * 10, 0);
  dots[55] = 0xffffffffu;
  const std::vector<uint32_t> before = dots;
  BlurPixels(dots.data(), 10, 10, 10, 0.4f);
  BlurPixels(dots.data(), 10, 10, 5, 3);   // stride shorter than a row
  BlurPixels(dots.data(), 0, 10, 10, 3);
  BlurPixels(nullptr, 10, 10, 10, 3);
  EXPECT_EQ(dots, before);

  // A huge radius is clamped, not a runaway loop.
  BlurPixels(dots.data(), 10, 10, 10, 1e9f);
  EXPECT_LT(Alpha(dots[55]), 255u);
}

}  // namespace
}  // namespace VirelantDesktop::render
