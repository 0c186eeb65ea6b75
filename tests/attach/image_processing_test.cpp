// The image routines on pictures of every format, made at test time by the
// codec libraries: sizes, orientation, transparency, encoding, thumbnails,
// and clean failure on files that are broken or lie about their size.
#include "modules/attach/image_processing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "modules/attach/area_scaler.h"
#include "platform/base64.h"
#include "platform/file_info.h"
#include "tests/attach/image_samples.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::attach {
namespace {

namespace images = testing::images;
using images::Bgra;

constexpr Bgra kRed{0, 0, 255, 255}, kGreen{0, 255, 0, 255}, kBlue{255, 0, 0, 255}, kWhite{255, 255, 255, 255};

void ExpectNear(const Bgra& actual, const Bgra& expected, int tolerance) {
  for (size_t c = 0; c < 4; ++c) {
    EXPECT_NEAR(actual[c], expected[c], tolerance) << "channel " << c;
  }
}

// The colour a few pixels in from each corner: top left, top right, bottom left, bottom right.
void ExpectCorners(const Bitmap& b, const Bgra& tl, const Bgra& tr, const Bgra& bl, const Bgra& br,
                   int tolerance = 0) {
  const uint32_t r = b.width - 3, d = b.height - 3;
  const struct {
    const char* name;
    uint32_t x, y;
    Bgra expected;
  } corners[] = {
      {"top left", 2, 2, tl}, {"top right", r, 2, tr}, {"bottom left", 2, d, bl}, {"bottom right", r, d, br}};
  for (const auto& c : corners) {
    SCOPED_TRACE(c.name);
    ExpectNear(images::PixelAt(b, c.x, c.y), c.expected, tolerance);
  }
}

std::vector<uint8_t> QuadrantIndices(uint32_t w, uint32_t h) {
  std::vector<uint8_t> out(size_t{w} * h);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) out[size_t{y} * w + x] = static_cast<uint8_t>((y >= h / 2) * 2 + (x >= w / 2));
  }
  return out;
}

// The size of the JPEG inside a thumbnail's data URI; not ok when it is no such URI.
ProbedSize ThumbnailSize(const std::string& thumb) {
  constexpr std::string_view kPrefix = "data:image/jpeg;base64,";
  if (!thumb.starts_with(kPrefix)) return {};
  const auto jpeg = platform::Base64Decode(std::string_view(thumb).substr(kPrefix.size()));
  if (!jpeg) return {};
  return ProbeImageSizeFromMemory(std::string_view(reinterpret_cast<const char*>(jpeg->data()), jpeg->size()));
}

// PNG colour type from the IHDR chunk: 2 RGB, 6 RGBA.
int PngColorType(const std::string& png) { return png.size() > 25 ? static_cast<unsigned char>(png[25]) : -1; }

class ImageProcessingTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Join(name);
    testing::WriteTextFile(path, bytes);
    return path;
  }
  testing::TempDir dir_;
};

TEST_F(ImageProcessingTest, LargeJpegWithOrientationSixProbesTurnedAndDecodesUpright) {
  const std::string plain = Write("plain.jpg", images::Jpeg(images::Quadrants(4000, 3000)));
  const std::string turned =
      Write("turned.jpg", images::Jpeg(images::Quadrants(4000, 3000), images::ExifOrientation(6)));

  EXPECT_EQ(ReadOrientation(plain), 1);
  const ProbedSize plainSize = ProbeImageSize(plain);
  EXPECT_TRUE(plainSize.ok);
  EXPECT_EQ(plainSize.width, 4000u);
  EXPECT_EQ(plainSize.height, 3000u);
  const auto small = DecodeOriented(plain, kStagingMaxSide);
  ASSERT_TRUE(small.has_value());
  EXPECT_EQ(small->width, 2048u);
  EXPECT_EQ(small->height, 1536u);
  ExpectCorners(*small, kRed, kGreen, kBlue, kWhite, 8);

  EXPECT_EQ(ReadOrientation(turned), 6);
  const ProbedSize turnedSize = ProbeImageSize(turned);
  EXPECT_TRUE(turnedSize.ok);
  EXPECT_EQ(turnedSize.width, 3000u);
  EXPECT_EQ(turnedSize.height, 4000u);
  const auto upright = DecodeOriented(turned, kStagingMaxSide);
  ASSERT_TRUE(upright.has_value());
  EXPECT_EQ(upright->width, 1536u);
  EXPECT_EQ(upright->height, 2048u);
  ExpectCorners(*upright, kBlue, kRed, kWhite, kGreen, 8);  // a quarter turn clockwise
  EXPECT_TRUE(IsOpaque(*upright));

  // The thumbnail: a data URI of a JPEG at most 128 pixels, turned as well.
  const ProbedSize thumbSize = ThumbnailSize(MakeThumbnail(turned));
  EXPECT_TRUE(thumbSize.ok);
  EXPECT_EQ(thumbSize.width, 96u);
  EXPECT_EQ(thumbSize.height, 128u);
}

TEST_F(ImageProcessingTest, SmallPicturesAreNotScaledAndThinOnesKeepOnePixel) {
  const std::string small = Write("small.png", images::Png(images::Quadrants(100, 50), false));
  const auto bitmap = DecodeOriented(small, kThumbnailMaxSide);
  ASSERT_TRUE(bitmap.has_value());
  EXPECT_EQ(bitmap->width, 100u);
  EXPECT_EQ(bitmap->height, 50u);
  const ProbedSize thumbSize = ThumbnailSize(MakeThumbnail(small));
  EXPECT_TRUE(thumbSize.ok);
  EXPECT_EQ(thumbSize.width, 100u);
  EXPECT_EQ(thumbSize.height, 50u);

  const auto thin = DecodeOrientedFromMemory(images::Png(images::Quadrants(3000, 1), false), kStagingMaxSide);
  ASSERT_TRUE(thin.has_value());
  EXPECT_EQ(thin->width, 2048u);
  EXPECT_EQ(thin->height, 1u);
}

TEST_F(ImageProcessingTest, OrientationTagOfAnotherTypeOrOutOfRangeIsUpright) {
  const Bitmap picture = images::Quadrants(16, 8);
  const struct {
    std::string exif;
    int orientation;
  } cases[] = {
      {images::ExifOrientation(6, /*type LONG*/ 4), 1},
      {images::ExifOrientation(0), 1},
      {images::ExifOrientation(9), 1},
      {images::ExifOrientation(8, 3, 1, /*bigEndian=*/true), 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    const std::string jpeg = images::Jpeg(picture, c.exif);
    EXPECT_EQ(ReadOrientationFromMemory(jpeg), c.orientation);
    const auto decoded = DecodeOrientedFromMemory(jpeg, 0);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, c.orientation == 1 ? 16u : 8u);
  }
}

// Every lossless reader: a picture with detail in every row and column comes
// back exactly (any flip or turn would show), and plain quarters shrunk by 4
// come back exact too (each target pixel covers one plain 4x4 block).
TEST_F(ImageProcessingTest, EveryFormatDecodesExactlyAndScales) {
  const std::vector<Bgra> palette = {kRed, kGreen, kBlue, kWhite};
  const std::vector<std::array<uint8_t, 3>> rgb = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  const auto detailIndices = [] {
    std::vector<uint8_t> out(64 * 48);
    for (uint32_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>((i % 64 * 7 + i / 64 * 3) % 4);
    return out;
  }();
  const auto fromIndices = [&](const std::vector<uint8_t>& indices) {
    return images::Make(64, 48, [&](uint32_t x, uint32_t y) { return palette[indices[y * 64 + x]]; });
  };
  using Maker = std::function<std::string(const Bitmap&, const std::vector<uint8_t>&)>;
  const images::BmpLayout v5Alpha{32, false, 124, true, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}};
  const images::BmpLayout rgb565{16, false, 40, true, {0xF800, 0x07E0, 0x001F, 0}};
  const std::string folder = dir_.path();
  const std::pair<const char*, Maker> formats[] = {
      {"png", [](const Bitmap& b, auto&) { return images::Png(b, false); }},
      {"png rgba interlaced", [](const Bitmap& b, auto&) { return images::Png(b, true, /*interlaced=*/true); }},
      {"gif", [&](const Bitmap&, auto& i) { return images::Gif(64, 48, i, rgb); }},
      {"gif interlaced", [&](const Bitmap&, auto& i) { return images::Gif(64, 48, i, rgb, -1, /*interlaced=*/true); }},
      {"webp", [](const Bitmap& b, auto&) { return images::WebP(b); }},
      {"tiff", [&](const Bitmap& b, auto&) { return images::Tiff(b, false, 0, folder); }},
      {"bmp 24 bottom-up", [](const Bitmap& b, auto&) { return images::Bmp(b); }},
      {"bmp 24 top-down", [](const Bitmap& b, auto&) { return images::Bmp(b, {24, /*topDown=*/true}); }},
      {"bmp 32", [](const Bitmap& b, auto&) { return images::Bmp(b, {32}); }},
      {"bmp 32 v5 alpha", [&](const Bitmap& b, auto&) { return images::Bmp(b, v5Alpha); }},
      {"bmp 16 565", [&](const Bitmap& b, auto&) { return images::Bmp(b, rgb565); }},
      {"bmp 8", [&](const Bitmap&, auto& i) { return images::Bmp8(64, 48, i, palette); }},
      {"bmp rle8", [&](const Bitmap&, auto& i) { return images::Bmp8(64, 48, i, palette, /*rle=*/true); }},
  };
  const Bitmap detail = fromIndices(detailIndices);
  const std::vector<uint8_t> quarterIndices = QuadrantIndices(64, 48);
  const Bitmap quarters = fromIndices(quarterIndices);
  const Bitmap shrunkQuarters = images::Quadrants(16, 12);
  for (const auto& [name, make] : formats) {
    SCOPED_TRACE(name);
    const std::string bytes = make(detail, detailIndices);
    const ProbedSize size = ProbeImageSizeFromMemory(bytes);
    EXPECT_TRUE(size.ok);
    EXPECT_EQ(size.width, 64u);
    EXPECT_EQ(size.height, 48u);
    const auto full = DecodeOrientedFromMemory(bytes, 0);
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->bgra, detail.bgra);
    const auto shrunk = DecodeOrientedFromMemory(make(quarters, quarterIndices), 16);
    ASSERT_TRUE(shrunk.has_value());
    EXPECT_EQ(shrunk->width, 16u);
    EXPECT_EQ(shrunk->bgra, shrunkQuarters.bgra);
  }
}

TEST_F(ImageProcessingTest, TransparencySurvivesEveryFormatThatHasIt) {
  const Bitmap source = images::Quadrants(32, 32, /*clearCorner=*/true);
  std::vector<uint8_t> indices = QuadrantIndices(32, 32);
  const images::BmpLayout v5Alpha{32, false, 124, true, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}};
  const std::pair<const char*, std::string> samples[] = {
      {"png", images::Png(source, true)},
      {"gif", images::Gif(32, 32, indices, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}}, /*transparent=*/3)},
      {"tiff", images::Tiff(source, true, 0, dir_.path())},
      {"bmp v5", images::Bmp(source, v5Alpha)},
  };
  for (const auto& [name, bytes] : samples) {
    SCOPED_TRACE(name);
    const auto decoded = DecodeOrientedFromMemory(bytes, 0);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_FALSE(IsOpaque(*decoded));
    ExpectCorners(*decoded, kRed, kGreen, kBlue, Bgra{0, 0, 0, 0});
  }
  // Plain 32-bit BMP pixels carry no alpha: a zero fourth byte is not transparency.
  const auto plain32 = DecodeOrientedFromMemory(images::Bmp(source, {32}), 0);
  ASSERT_TRUE(plain32.has_value());
  EXPECT_TRUE(IsOpaque(*plain32));
}

TEST_F(ImageProcessingTest, BmpWhoseAlphaIsAllZero_IsOpaqueAndAnyOtherAlphaIsKept) {
  Bitmap source = images::Quadrants(32, 32);
  for (size_t i = 3; i < source.bgra.size(); i += 4) source.bgra[i] = 0;
  const images::BmpLayout v5Alpha{32, false, 124, true, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}};
  const images::BmpLayout v5Argb1555{16, false, 124, true, {0x7C00, 0x03E0, 0x001F, 0x8000}};
  for (const auto& [name, layout] : {std::pair{"32-bit", v5Alpha}, std::pair{"16-bit", v5Argb1555}}) {
    SCOPED_TRACE(name);
    const auto decoded = DecodeOrientedFromMemory(images::Bmp(source, layout), 0);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(IsOpaque(*decoded));
    ExpectCorners(*decoded, kRed, kGreen, kBlue, kWhite);
  }
  // One pixel barely visible: the alpha is meant, and every other pixel
  // stays transparent.
  source.bgra[3] = 1;
  const auto kept = DecodeOrientedFromMemory(images::Bmp(source, v5Alpha), 0);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(images::PixelAt(*kept, 0, 0), (Bgra{0, 0, 255, 1}));
  ExpectCorners(*kept, Bgra{0, 0, 255, 0}, Bgra{0, 255, 0, 0}, Bgra{255, 0, 0, 0}, Bgra{255, 255, 255, 0});
}

TEST_F(ImageProcessingTest, JpegScans_UpToTheLimitDecodeAndPastItAreTooComplex) {
  DecodeFailure why = DecodeFailure::TooComplex;
  const std::string atLimit = images::JpegScans(64, 48, kMaxJpegScans, /*shade=*/100);
  const auto decoded = DecodeOrientedFromMemory(atLimit, 0, &why);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->width, 64u);
  ExpectNear(images::PixelAt(*decoded, 20, 20), Bgra{100, 100, 100, 255}, 2);
  EXPECT_EQ(why, DecodeFailure::TooComplex) << "left alone on success";

  for (int scans : {kMaxJpegScans + 1, 127}) {
    SCOPED_TRACE(scans);
    const std::string hostile = images::JpegScans(64, 48, scans);
    EXPECT_TRUE(ProbeImageSizeFromMemory(hostile).ok) << "the headers still read";
    why = DecodeFailure::Unreadable;
    EXPECT_FALSE(DecodeOrientedFromMemory(hostile, 0, &why).has_value());
    EXPECT_EQ(why, DecodeFailure::TooComplex);
    // The thumbnail's 1/8 DCT scaling still has to read every scan.
    why = DecodeFailure::Unreadable;
    EXPECT_FALSE(DecodeOrientedFromMemory(hostile, kThumbnailMaxSide, &why).has_value());
    EXPECT_EQ(why, DecodeFailure::TooComplex);
    const std::string path = Write("many-scans.jpg", hostile);
    EXPECT_FALSE(DecodeOriented(path, kStagingMaxSide, &why).has_value());
    EXPECT_EQ(why, DecodeFailure::TooComplex);
    EXPECT_EQ(MakeThumbnail(path), "");
  }

  // Every other failure stays "unreadable".
  for (const std::string& broken : {std::string("not a picture"), atLimit.substr(0, atLimit.size() / 2)}) {
    why = DecodeFailure::TooComplex;
    EXPECT_FALSE(DecodeOrientedFromMemory(broken, 0, &why).has_value());
    EXPECT_EQ(why, DecodeFailure::Unreadable);
  }
}

TEST_F(ImageProcessingTest, AHeifThatDecodesToAnotherSizeThanItsHeaderSaysIsRefused) {
  // Found by the image fuzzer: a grid whose header promises one size and
  // whose decode gives another; the pixel limit and the sizes reported
  // were taken from the header.
  const std::string bytes = testing::ReadTextFile(std::string(TALVEK_IMAGE_CORPUS) + "/heif_grid_other_size");
  ASSERT_FALSE(bytes.empty());
  const ProbedSize probed = ProbeImageSizeFromMemory(bytes);
  ASSERT_TRUE(probed.ok);
  const auto decoded = DecodeOrientedFromMemory(bytes, 48);
  if (decoded) {
    EXPECT_EQ(ScaledSize(probed.width, probed.height, 48), (PixelSize{decoded->width, decoded->height}));
  }
  EXPECT_FALSE(decoded.has_value());
}

TEST_F(ImageProcessingTest, ExifOrientationInPngWebPAndTiff) {
  const Bitmap source = images::Quadrants(64, 48);
  const std::string exif = images::ExifOrientation(6);
  const std::pair<const char*, std::string> samples[] = {
      {"png eXIf", images::Png(source, false, false, exif)},
      {"webp EXIF", images::WebP(source, exif)},
      {"tiff tag", images::Tiff(source, false, 6, dir_.path())},
  };
  for (const auto& [name, bytes] : samples) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadOrientationFromMemory(bytes), 6);
    const ProbedSize size = ProbeImageSizeFromMemory(bytes);
    EXPECT_EQ(size.width, 48u);
    EXPECT_EQ(size.height, 64u);
    const auto decoded = DecodeOrientedFromMemory(bytes, 32);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, 24u);
    EXPECT_EQ(decoded->height, 32u);
    ExpectCorners(*decoded, kBlue, kRed, kWhite, kGreen);
  }
}

TEST_F(ImageProcessingTest, HeifContainerRotationIsAppliedOnce) {
  const std::string heif = images::Heif(images::Quadrants(64, 32), /*orientation=*/6);
  if (heif.empty()) GTEST_SKIP() << "libheif has no HEVC encoder here";
  const std::string path = Write("photo.heic", heif);
  EXPECT_EQ(ReadOrientation(path), 1);
  const ProbedSize size = ProbeImageSize(path);
  EXPECT_TRUE(size.ok);
  EXPECT_EQ(size.width, 32u);
  EXPECT_EQ(size.height, 64u);
  const auto decoded = DecodeOriented(path, 0);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->width, 32u);
  EXPECT_EQ(decoded->height, 64u);
  ExpectCorners(*decoded, kBlue, kRed, kWhite, kGreen, 24);
}

TEST_F(ImageProcessingTest, CmykJpegComesOutInTheRightColours) {
  const auto red = DecodeOrientedFromMemory(images::JpegCmyk(16, 16, {0, 255, 255, 0}), 0);
  ASSERT_TRUE(red.has_value());
  ExpectNear(images::PixelAt(*red, 8, 8), kRed, 4);
}

TEST_F(ImageProcessingTest, TheContentDecidesTheFormatNotTheName) {
  const std::string path = Write("really-a-png.jpg", images::Png(images::Quadrants(20, 10), false));
  const auto decoded = DecodeOriented(path, 0);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->width, 20u);
}

TEST_F(ImageProcessingTest, BrokenFilesFailCleanly) {
  const Bitmap source = images::Quadrants(64, 48);
  const std::pair<const char*, std::string> complete[] = {
      {"jpeg", images::Jpeg(source)}, {"png", images::Png(source, false)},
      {"gif", images::Gif(64, 48, QuadrantIndices(64, 48), {{1, 2, 3}})},
      {"webp", images::WebP(source)}, {"tiff", images::Tiff(source, false, 0, dir_.path())},
      {"bmp", images::Bmp(source)},
  };
  std::vector<std::pair<std::string, std::string>> broken = {
      {"empty", ""}, {"text", "just some words, not a picture"}, {"bmp magic only", "BM"}};
  for (const auto& [name, bytes] : complete) {
    broken.emplace_back(std::string(name) + " cut", bytes.substr(0, bytes.size() / 2));
  }
  for (const auto& [name, bytes] : broken) {
    SCOPED_TRACE(name);
    const std::string path = Write("broken", bytes);
    EXPECT_FALSE(DecodeOriented(path, kStagingMaxSide).has_value());
    EXPECT_EQ(MakeThumbnail(path), "");
    EXPECT_EQ(ReadOrientation(path), 1);
  }
  const std::string missing = dir_.Join("missing.png");
  EXPECT_FALSE(ProbeImageSize(missing).ok);
  EXPECT_FALSE(DecodeOriented(missing, 0).has_value());
  EXPECT_EQ(MakeThumbnail(missing), "");
}

TEST_F(ImageProcessingTest, HeadersClaimingHugeSizesProbeButNeverDecode) {
  // 100000 x 100000 at 4 bytes a pixel would be 40 GB.
  std::string bmp = images::Bmp(images::Quadrants(4, 4));
  bmp.replace(18, 8, std::string("\xA0\x86\x01\x00\xA0\x86\x01\x00", 8));
  for (const std::string& bytes : {images::PngHeaderOnly(100000, 100000), bmp}) {
    const ProbedSize size = ProbeImageSizeFromMemory(bytes);
    EXPECT_TRUE(size.ok);
    EXPECT_EQ(size.width, 100000u);
    EXPECT_EQ(size.height, 100000u);
    EXPECT_FALSE(DecodeOrientedFromMemory(bytes, kStagingMaxSide).has_value());
  }
}

TEST_F(ImageProcessingTest, IsOpaqueLooksAtEveryAlphaByte) {
  EXPECT_TRUE(IsOpaque(Bitmap{}));
  EXPECT_TRUE(IsOpaque(images::Quadrants(5, 3)));
  Bitmap one = images::Quadrants(5, 3);
  one.bgra[(2 * 5 + 4) * 4 + 3] = 254;  // the very last pixel
  EXPECT_FALSE(IsOpaque(one));
  Bitmap shortBuffer = images::Quadrants(5, 3);
  shortBuffer.bgra.resize(8);
  EXPECT_FALSE(IsOpaque(shortBuffer));
}

TEST_F(ImageProcessingTest, PngIs24BitWhenOpaqueAnd32BitWithTransparency) {
  Bitmap picture = images::Quadrants(8, 8);
  const std::string opaquePath = dir_.Join("opaque.png");
  ASSERT_TRUE(EncodeImageFile(picture, ImageFormat::Png, kStagingJpegQuality, IsOpaque(picture), opaquePath));
  EXPECT_EQ(PngColorType(testing::ReadTextFile(opaquePath)), 2);

  picture.bgra[3] = 0;  // one transparent pixel
  const std::string clearPath = dir_.Join("clear.png");
  ASSERT_FALSE(IsOpaque(picture));
  ASSERT_TRUE(EncodeImageFile(picture, ImageFormat::Png, kStagingJpegQuality, IsOpaque(picture), clearPath));
  const std::string clear = testing::ReadTextFile(clearPath);
  EXPECT_EQ(PngColorType(clear), 6);
  const auto back = DecodeOrientedFromMemory(clear, 0);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->bgra, picture.bgra);
}

TEST_F(ImageProcessingTest, JpegIsTheWholePictureOverWhite) {
  const Bitmap clear = images::Make(16, 16, [](uint32_t, uint32_t) { return Bgra{0, 0, 0, 0}; });
  const std::string path = dir_.Join("out.jpg");
  ASSERT_TRUE(EncodeImageFile(clear, ImageFormat::Jpeg, kStagingJpegQuality, false, path));
  const auto back = DecodeOriented(path, 0);
  ASSERT_TRUE(back.has_value());
  ExpectNear(images::PixelAt(*back, 8, 8), kWhite, 2);
}

TEST_F(ImageProcessingTest, FailedEncodesLeaveNoFile) {
  const Bitmap picture = images::Quadrants(8, 8);
  Bitmap inconsistent = picture;
  inconsistent.bgra.pop_back();
  const std::string inFolder = dir_.Join("out.jpg");
  EXPECT_FALSE(EncodeImageFile(picture, ImageFormat::Jpeg, 1.5f, true, inFolder));
  EXPECT_FALSE(EncodeImageFile(inconsistent, ImageFormat::Png, kStagingJpegQuality, true, inFolder));
  EXPECT_FALSE(EncodeImageFile(Bitmap{}, ImageFormat::Jpeg, kStagingJpegQuality, true, inFolder));
  EXPECT_EQ(platform::KindOfPath(inFolder), platform::PathKind::Missing);
  const std::string noFolder = dir_.Join("missing/out.jpg");
  EXPECT_FALSE(EncodeImageFile(picture, ImageFormat::Jpeg, kStagingJpegQuality, true, noFolder));
  EXPECT_EQ(platform::KindOfPath(noFolder), platform::PathKind::Missing);
  // JPEG cannot hold more than 65500 pixels a side.
  const Bitmap wide = images::Make(70000, 1, [](uint32_t, uint32_t) { return kRed; });
  EXPECT_FALSE(EncodeImageFile(wide, ImageFormat::Jpeg, kStagingJpegQuality, true, inFolder));
  EXPECT_EQ(platform::KindOfPath(inFolder), platform::PathKind::Missing);
}

}  // namespace
}  // namespace VirelantDesktop::attach
