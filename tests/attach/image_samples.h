// Pictures for the image tests, benchmark and fuzz seeds, made in memory with
// the codec libraries themselves (or byte by byte), never with the code under
// test.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/attach/image_processing.h"

namespace VirelantDesktop::testing::images {

using attach::Bitmap;
using Bgra = std::array<uint8_t, 4>;

Bitmap Make(uint32_t width, uint32_t height, const std::function<Bgra(uint32_t x, uint32_t y)>& pixel);
// Four plain quarters, red top left, green top right, blue bottom left and
// white bottom right: survives lossy coding and tells every turn and mirror
// apart. With `clearCorner` the bottom right quarter is transparent (0,0,0,0).
Bitmap Quadrants(uint32_t width, uint32_t height, bool clearCorner = false);
Bgra PixelAt(const Bitmap& bitmap, uint32_t x, uint32_t y);

// "Exif\0\0" and a TIFF structure whose first IFD holds tag 274 with the
// given type, count and value.
std::string ExifOrientation(uint16_t value, uint16_t type = 3, uint32_t count = 1, bool bigEndian = false);

std::string Jpeg(const Bitmap& bitmap, std::string_view app1 = {}, int quality = 90);
// The same, row by row from `pixel`, for pictures too large to hold.
std::string JpegOf(uint32_t width, uint32_t height, const std::function<Bgra(uint32_t x, uint32_t y)>& pixel,
                   std::string_view app1 = {}, int quality = 90);
// A progressive greyscale JPEG of one shade in exactly `scans` scans (2 to
// 127, a script libjpeg's encoder accepts): the DC scan, the AC coefficients
// in up to 63 bands, and a refinement scan for as many bands as needed.
std::string JpegScans(uint32_t width, uint32_t height, int scans, uint8_t shade = 100);
// A CMYK JPEG (with libjpeg's Adobe marker) of one colour, given as CMYK ink.
std::string JpegCmyk(uint32_t width, uint32_t height, std::array<uint8_t, 4> cmyk);
std::string Png(const Bitmap& bitmap, bool alpha, bool interlaced = false, std::string_view exif = {});
// A header claiming this size and a few bytes of image data that decode to nothing.
std::string PngHeaderOnly(uint32_t width, uint32_t height);
// One frame of `indices` (width*height) with an RGB palette.
std::string Gif(uint16_t width, uint16_t height, const std::vector<uint8_t>& indices,
                const std::vector<std::array<uint8_t, 3>>& palette, int transparent = -1, bool interlaced = false);
// Lossless; with `exif` as an extended file with an EXIF chunk.
std::string WebP(const Bitmap& bitmap, std::string_view exif = {});
// Through a file in `folder`; orientation 0 writes no tag.
std::string Tiff(const Bitmap& bitmap, bool alpha, int orientation, const std::string& folder);
// "" when libheif has no HEVC encoder here.
std::string Heif(const Bitmap& bitmap, int orientation);

// BMP variants. Bitfields are given as R, G, B, A masks.
struct BmpLayout {
  uint16_t bitsPerPixel = 24;      // 16, 24 or 32
  bool topDown = false;
  uint32_t headerSize = 40;        // 40 or 124
  bool bitFields = false;
  std::array<uint32_t, 4> masks{};
};
std::string Bmp(const Bitmap& bitmap, const BmpLayout& layout = {});
// An 8-bit palette BMP; `rle` stores the rows as RLE8.
std::string Bmp8(uint32_t width, uint32_t height, const std::vector<uint8_t>& indices,
                 const std::vector<Bgra>& palette, bool rle = false);

}  // namespace VirelantDesktop::testing::images
