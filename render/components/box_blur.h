// A Gaussian-like blur of premultiplied 32-bit pixels: three box passes
// each way (every channel alike, which is right for premultiplied colour).
// Pixels beyond the edges count as the edge pixel, so a blurred photo does
// not fade to transparent at its borders.
#pragma once

#include <cstdint>

namespace VirelantDesktop::render {

// The largest radius blurred (in pixels); larger ones are clamped.
inline constexpr int kMaxBlurRadius = 128;

// Blurs `height` rows of `width` pixels, `stride` pixels apart, in place.
// `radius` is the Gaussian's standard deviation in pixels; below 0.5 it
// does nothing.
void BlurPixels(uint32_t* pixels, int width, int height, int stride, float radius);

}  // namespace VirelantDesktop::render
