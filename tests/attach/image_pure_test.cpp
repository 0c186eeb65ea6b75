// The pieces of the image work that need no codec: sizes, the area scaler,
// the orientation transforms, the EXIF parser and the format sniffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/attach/area_scaler.h"
#include "modules/attach/exif_orientation.h"
#include "modules/attach/image_format.h"
#include "modules/attach/orientation_transform.h"
#include "tests/attach/image_samples.h"

namespace VirelantDesktop::attach {
namespace {

namespace images = testing::images;

Bitmap Grey(const std::vector<uint8_t>& values, uint32_t width) {
  return images::Make(width, static_cast<uint32_t>(values.size()) / width, [&](uint32_t x, uint32_t y) {
    const uint8_t v = values[y * width + x];
    return images::Bgra{v, v, v, 255};
  });
}

// The B channel of every pixel, row by row.
std::vector<uint8_t> Blues(const Bitmap& bitmap) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < bitmap.bgra.size(); i += 4) out.push_back(bitmap.bgra[i]);
  return out;
}

TEST(ScaledSize, LimitsTheLongerSideRoundingHalvesUp) {
  struct Case {
    uint32_t w, h, max;
    PixelSize expected;
  };
  const Case cases[] = {
      {4000, 3000, 2048, {2048, 1536}}, {3000, 4000, 2048, {1536, 2048}},
      {100, 50, 128, {100, 50}},        {2048, 2048, 2048, {2048, 2048}},
      {3000, 1, 2048, {2048, 1}},       // never a zero side
      {4, 3, 2, {2, 2}},                // 1.5 rounds up
      {3000000, 1, 2048, {2048, 1}},    // w * max does not fit 32 bits
      {4000, 3000, 0, {4000, 3000}},    // 0: no limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " max " + std::to_string(c.max));
    EXPECT_EQ(ScaledSize(c.w, c.h, c.max), c.expected);
  }
}

TEST(AreaScaler, AveragesCoveredAreaWithPartialWeights) {
  // 3 -> 2: each target pixel covers one and a half source pixels.
  auto out = ScaleBitmap(Grey({0, 90, 255}, 3), {2, 1});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(Blues(*out), (std::vector<uint8_t>{30, 200}));

  out = ScaleBitmap(Grey({10, 20, 30, 40, 50, 60, 70, 80}, 4), {2, 1});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(Blues(*out), (std::vector<uint8_t>{35, 55}));

  // A plain picture stays exactly plain at an awkward ratio.
  const Bitmap plain = images::Make(7, 5, [](uint32_t, uint32_t) { return images::Bgra{10, 20, 30, 255}; });
  out = ScaleBitmap(plain, {3, 2});
  ASSERT_TRUE(out.has_value());
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(images::PixelAt(*out, x, y), (images::Bgra{10, 20, 30, 255}));
  }
}

TEST(AreaScaler, TransparentPixelsDoNotTintTheirNeighbours) {
  const Bitmap pair = images::Make(2, 1, [](uint32_t x, uint32_t) {
    return x == 0 ? images::Bgra{0, 0, 255, 255} : images::Bgra{255, 255, 255, 0};
  });
  const auto out = ScaleBitmap(pair, {1, 1});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(images::PixelAt(*out, 0, 0), (images::Bgra{0, 0, 255, 128}));
}

TEST(AreaScaler, RefusesEnlargingAndEmptyTargets) {
  EXPECT_FALSE(AreaScaler::Create({4, 4}, {5, 4}).has_value());
  EXPECT_FALSE(AreaScaler::Create({4, 4}, {0, 4}).has_value());
  EXPECT_FALSE(AreaScaler::Create({70000, 70000}, {2048, 2048}).has_value());  // above the pixel limit
}

TEST(ApplyOrientation, EachOrientationOnAnAsymmetricPicture) {
  // Stored:  0 1 2
  //          3 4 5
  const Bitmap stored = Grey({0, 1, 2, 3, 4, 5}, 3);
  struct Case {
    int orientation;
    uint32_t width;
    std::vector<uint8_t> rows;
  };
  const Case cases[] = {
      {1, 3, {0, 1, 2, 3, 4, 5}}, {2, 3, {2, 1, 0, 5, 4, 3}}, {3, 3, {5, 4, 3, 2, 1, 0}},
      {4, 3, {3, 4, 5, 0, 1, 2}}, {5, 2, {0, 3, 1, 4, 2, 5}}, {6, 2, {3, 0, 4, 1, 5, 2}},
      {7, 2, {5, 2, 4, 1, 3, 0}}, {8, 2, {2, 5, 1, 4, 0, 3}},
      {0, 3, {0, 1, 2, 3, 4, 5}}, {9, 3, {0, 1, 2, 3, 4, 5}},  // invalid: unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("orientation " + std::to_string(c.orientation));
    const Bitmap out = ApplyOrientation(stored, c.orientation);
    EXPECT_EQ(out.width, c.width);
    EXPECT_EQ(out.height, 6 / c.width);
    EXPECT_EQ(Blues(out), c.rows);
  }
}

TEST(OrientationFromExif, OnlyOneShortFromOneToEight) {
  struct Case {
    std::string data;
    int expected;
  };
  const std::string valid = images::ExifOrientation(6);
  const Case cases[] = {
      {valid, 6},
      {valid.substr(6), 6},                                          // without the "Exif" prefix
      {images::ExifOrientation(8, 3, 1, /*bigEndian=*/true), 8},
      {images::ExifOrientation(6, /*type LONG*/ 4), 1},
      {images::ExifOrientation(6, 3, /*count=*/2), 1},
      {images::ExifOrientation(0), 1},
      {images::ExifOrientation(9), 1},
      {valid.substr(0, valid.size() - 8), 1},                        // entry cut off
      {"Exif\0\0XX*\0", 1},
      {"", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.data));
    EXPECT_EQ(OrientationFromExif(c.data), c.expected);
  }

  // The IFD offset pointing past the end; an entry count far past the end.
  std::string far = valid;
  far[10] = '\xFF';
  EXPECT_EQ(OrientationFromExif(far), 1);
  std::string many = valid;
  many[14] = '\xFF', many[15] = '\xFF';
  many[16] = 1;  // the one real entry is another tag
  EXPECT_EQ(OrientationFromExif(many), 1);
}

TEST(SniffFormat, ByLeadingBytesOnly) {
  struct Case {
    std::string head;
    SourceFormat expected;
  };
  const Case cases[] = {
      {"\xFF\xD8\xFF\xE0", SourceFormat::Jpeg},
      {"\x89PNG\r\n\x1A\n", SourceFormat::Png},
      {"GIF89a", SourceFormat::Gif},
      {std::string("RIFF\x10\0\0\0WEBPVP8L", 16), SourceFormat::WebP},
      {std::string("RIFF\x10\0\0\0WAVEfmt ", 16), SourceFormat::Unknown},
      {"RIFF", SourceFormat::Unknown},
      {std::string("II*\0", 4), SourceFormat::Tiff},
      {std::string("MM\0*", 4), SourceFormat::Tiff},
      {"BM", SourceFormat::Bmp},
      {std::string("\0\0\0\x18" "ftypheic\0\0\0\0mif1", 20), SourceFormat::Heif},
      {std::string("\0\0\0\x18" "ftypisom\0\0\0\0mif1", 20), SourceFormat::Heif},  // compatible brand
      {std::string("\0\0\0\x18" "ftypisom\0\0\0\0mp41", 20), SourceFormat::Unknown},
      {"%PDF-1.7", SourceFormat::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.head));
    EXPECT_EQ(SniffFormat(c.head), c.expected);
  }
}

}  // namespace
}  // namespace VirelantDesktop::attach
