#include "platform/image_loader.h"

#include <gtest/gtest.h>

#include <future>

#include "platform/base64.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

using testing::TempDir;

void WritePng(const std::string& path, int w, int h) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgba(cr, 1, 0, 0, 0.5);
  cairo_paint(cr);
  cairo_destroy(cr);
  ASSERT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(surface);
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xffffffffu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string BigEndian(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A PNG signature, a valid header chunk claiming the size, and the start of
// a tiny data chunk (the decoder reads the header once data begins).
std::string PngHeaderOnly(uint32_t w, uint32_t h) {
  std::string ihdr = "IHDR" + BigEndian(w) + BigEndian(h) + std::string("\x08\x06\x00\x00\x00", 5);
  std::string idat = "IDAT" + std::string("\x78\x9c", 2);
  return std::string("\x89PNG\r\n\x1a\n", 8) + BigEndian(13) + ihdr + BigEndian(Crc32(ihdr)) + BigEndian(2) + idat +
         BigEndian(Crc32(idat));
}

TEST(ImageLoaderTest, DecodesFilesAndPathsIntoPremultipliedSurfaces) {
  TempDir dir;
  const std::string path = dir.Join("a b.png");
  WritePng(path, 30, 20);
  for (const std::string& uri : {path, std::string("file://") + dir.path() + "/a%20b.png"}) {
    LoadedImage loaded = DecodeImageUri(uri);
    ASSERT_TRUE(loaded.image) << uri << ": " << loaded.error;
    EXPECT_EQ(loaded.image->PixelWidth(), 30);
    EXPECT_EQ(loaded.image->PixelHeight(), 20);
    uint32_t px;
    std::memcpy(&px, cairo_image_surface_get_data(loaded.image->surface()), 4);
    EXPECT_NEAR(static_cast<int>(px >> 24), 128, 1);
    EXPECT_NEAR(static_cast<int>((px >> 16) & 255), 128, 1);  // premultiplied red
  }
}

TEST(ImageLoaderTest, RefusesWhatIsNotAnImageOrTooLarge) {
  TempDir dir;
  testing::WriteTextFile(dir.Join("notes.png"), "just some words, not an image at all");
  EXPECT_FALSE(DecodeImageUri(dir.Join("notes.png")).error.empty());
  EXPECT_FALSE(DecodeImageUri(dir.Join("missing.png")).error.empty());
  EXPECT_FALSE(DecodeImageUri(dir.path()).error.empty());  // a folder
  EXPECT_FALSE(DecodeImageUri("https://example.com/a.png").error.empty());
  EXPECT_FALSE(DecodeImageUri("relative/a.png").error.empty());

  // 20000 x 20000 would take 1.6 GB: refused from the header alone.
  testing::WriteTextFile(dir.Join("huge.png"), PngHeaderOnly(20000, 20000));
  LoadedImage huge = DecodeImageUri(dir.Join("huge.png"));
  EXPECT_FALSE(huge.image);
  EXPECT_NE(huge.error.find("too large"), std::string::npos) << huge.error;
}

TEST(ImageLoaderTest, DataUris) {
  TempDir dir;
  WritePng(dir.Join("x.png"), 4, 3);
  const std::string png = testing::ReadTextFile(dir.Join("x.png"));
  LoadedImage ok = DecodeImageUri("data:image/png;base64," + Base64Encode(png));
  ASSERT_TRUE(ok.image) << ok.error;
  EXPECT_EQ(ok.image->PixelWidth(), 4);

  EXPECT_FALSE(DecodeImageUri("data:image/png;base64,@@@not base64@@@").image);
  EXPECT_FALSE(DecodeImageUri("data:image/png;base64").image);  // no comma
  EXPECT_FALSE(DecodeImageUri("data:text/plain;base64," + Base64Encode(png)).image);
  EXPECT_FALSE(DecodeImageUri("data:image/png;base64," + Base64Encode(PngHeaderOnly(20000, 20000))).image);
}

TEST(ImageLoaderTest, SizesComeFromTheHeaderWithoutThePixels) {
  TempDir dir;
  WritePng(dir.Join("a.png"), 30, 20);
  ImageSizeResult file = ReadImageSize("file://" + dir.Join("a.png"));
  EXPECT_EQ(file.error, "");
  EXPECT_EQ(file.width, 30);
  EXPECT_EQ(file.height, 20);
  ImageSizeResult data = ReadImageSize("data:image/png;base64," + Base64Encode(testing::ReadTextFile(dir.Join("a.png"))));
  EXPECT_EQ(data.width, 30);

  // Only a header: its size is known without reading any pixels.
  testing::WriteTextFile(dir.Join("header.png"), PngHeaderOnly(5000, 4000));
  ImageSizeResult header = ReadImageSize(dir.Join("header.png"));
  EXPECT_EQ(header.error, "");
  EXPECT_EQ(header.width, 5000);
  EXPECT_EQ(header.height, 4000);

  testing::WriteTextFile(dir.Join("huge.png"), PngHeaderOnly(20000, 20000));
  EXPECT_NE(ReadImageSize(dir.Join("huge.png")).error.find("too large"), std::string::npos);
  testing::WriteTextFile(dir.Join("notes.png"), "just some words, not an image at all");
  ImageSizeResult notes = ReadImageSize(dir.Join("notes.png"));
  EXPECT_FALSE(notes.error.empty());
  EXPECT_EQ(notes.width, 0);
  EXPECT_FALSE(ReadImageSize("https://example.com/a.png").error.empty());
  EXPECT_FALSE(ReadImageSize(dir.Join("missing.png")).error.empty());
}

TEST(ImageLoaderTest, LoadsOnTheWorkerThenServesFromTheCache) {
  TempDir dir;
  WritePng(dir.Join("c.png"), 10, 10);
  ImageLoader loader(1 << 20);
  std::promise<LoadedImage> first, second;
  loader.Load(dir.Join("c.png"), [&first](LoadedImage image) { first.set_value(std::move(image)); });
  loader.Load(dir.Join("bad.png"), [&second](LoadedImage image) { second.set_value(std::move(image)); });
  LoadedImage a = first.get_future().get();
  ASSERT_TRUE(a.image) << a.error;
  EXPECT_FALSE(second.get_future().get().error.empty());
  EXPECT_EQ(loader.Cached(dir.Join("c.png")), a.image);
  EXPECT_EQ(loader.Cached(dir.Join("bad.png")), nullptr);
  EXPECT_EQ(loader.CachedBytes(), 10u * 10u * 4u);

  // Served at once, on this thread.
  bool called = false;
  loader.Load(dir.Join("c.png"), [&](LoadedImage image) {
    called = true;
    EXPECT_EQ(image.image, a.image);
  });
  EXPECT_TRUE(called);
}

TEST(ImageLoaderTest, CacheDropsTheLeastRecentlyUsedBeyondItsBound) {
  TempDir dir;
  WritePng(dir.Join("1.png"), 10, 10);
  WritePng(dir.Join("2.png"), 10, 10);
  WritePng(dir.Join("3.png"), 10, 10);
  ImageLoader loader(2 * 10 * 10 * 4);
  auto load = [&loader](const std::string& path) {
    std::promise<void> done;
    loader.Load(path, [&done](LoadedImage) { done.set_value(); });
    done.get_future().wait();
  };
  load(dir.Join("1.png"));
  load(dir.Join("2.png"));
  EXPECT_TRUE(loader.Cached(dir.Join("1.png")));  // now the most recent
  load(dir.Join("3.png"));
  EXPECT_TRUE(loader.Cached(dir.Join("1.png")));
  EXPECT_FALSE(loader.Cached(dir.Join("2.png")));
  EXPECT_TRUE(loader.Cached(dir.Join("3.png")));
  EXPECT_LE(loader.CachedBytes(), 800u);
}

}  // namespace
}  // namespace VirelantDesktop::platform
