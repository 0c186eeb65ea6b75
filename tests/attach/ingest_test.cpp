#include "modules/attach/ingest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "modules/attach/image_processing.h"
#include "modules/attach/staging_ops.h"
#include "platform/base64.h"
#include "platform/confined_file.h"
#include "platform/confined_tree.h"
#include "tests/attach/image_samples.h"
#include "tests/attach/staging_fixture.h"

namespace VirelantDesktop::attach {
namespace {

namespace fs = std::filesystem;
namespace images = testing::images;
using testing::ReadTextFile;

constexpr std::string_view kThumbPrefix = "data:image/jpeg;base64,";

struct PictureSize {
  uint32_t width = 0, height = 0;
  bool operator==(const PictureSize&) const = default;
};

PictureSize SizeOf(std::string_view bytes) {
  const ProbedSize probed = ProbeImageSizeFromMemory(bytes);
  return probed.ok ? PictureSize{probed.width, probed.height} : PictureSize{};
}

// Colour type 6 in the header: RGBA.
bool PngHasAlpha(std::string_view png) { return png.size() > 25 && png[25] == 6; }

images::Bgra Smooth(uint32_t x, uint32_t y) {
  return {static_cast<uint8_t>(x / 16), static_cast<uint8_t>(y / 16), static_cast<uint8_t>((x + y) / 32), 255};
}

// A GIF made `totalBytes` long by a comment block before its trailer.
std::string PaddedGif(size_t totalBytes) {
  std::string gif = images::Gif(64, 48, std::vector<uint8_t>(64 * 48, 1), {{0, 0, 0}, {255, 255, 255}});
  gif.pop_back();  // the trailer
  gif += "\x21\xfe";
  while (gif.size() + 256 + 2 <= totalBytes) gif += '\xff' + std::string(255, 'x');
  gif += std::string("\x00\x3b", 2);
  return gif;
}

class IngestTest : public testing::StagingTest {
 protected:
  // The staged file must lie in its own GUID folder of the staging area.
  void ExpectStagedAlone(const IngestResult& result) {
    ASSERT_TRUE(result.ok) << result.error;
    const fs::path path(result.path);
    EXPECT_EQ(path.parent_path().parent_path().string(), staging_);
    EXPECT_EQ(path.parent_path().filename().string().size(), 36u);
    EXPECT_EQ(path.filename().string(), result.name);
    EXPECT_EQ(fs::file_size(path), result.size);
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 1);
  }
  // The size of the JPEG inside a thumbnail data URI.
  static PictureSize ThumbSize(const std::string& thumb) {
    if (thumb.rfind(kThumbPrefix, 0) != 0) return {};
    auto bytes = platform::Base64Decode(std::string_view(thumb).substr(kThumbPrefix.size()));
    if (!bytes) return {};
    return SizeOf(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  }
  void ExpectFailure(const IngestResult& result, const std::string& code) {
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, code);
    EXPECT_TRUE(StagedEntries().empty()) << "a failed item leaves nothing behind";
  }
};

TEST_F(IngestTest, FilesAreCopiedUnderTheirCleanedNameWithTheTableType) {
  struct Case {
    std::string sourceName, stagedName, mime;
  };
  const std::vector<Case> cases = {
      {"report.PDF", "report.PDF", "application/pdf"},
      {"CON.txt", "file.txt", "text/plain"},
      {"  .hidden ", "hidden", "application/octet-stream"},
      {"....", "file", "application/octet-stream"},
      {"notes\u202Egpj.md", "notesgpj.md", "text/markdown"},
      {"a\u200Bb.csv", "ab.csv", "text/csv"},
      {"x." + std::string(60, 'e'), "x." + std::string(39, 'e'), "application/octet-stream"},
      {std::string(150, 's') + ".docx", std::string(95, 's') + ".docx",
       "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sourceName);
    const std::string source = Source(c.sourceName, "payload of " + c.sourceName);
    chmod(source.c_str(), 0444);  // the copy is writable by its owner anyway
    const IngestResult result = IngestLocalPath(source);
    ExpectStagedAlone(result);
    EXPECT_EQ(result.name, c.stagedName);
    EXPECT_EQ(result.mime, c.mime);
    EXPECT_EQ(ReadTextFile(result.path), "payload of " + c.sourceName);
    EXPECT_EQ(fs::status(result.path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(result.width, 0u);
    EXPECT_TRUE(result.thumb.empty());
  }
}

TEST_F(IngestTest, SourcesThatAreNotFilesAreNotFound) {
  fs::create_directories(sources_.Join("folder.png"));
  const std::string fifo = sources_.Join("pipe.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // nobody writes: opening it must not wait
  const std::string file = Source("real.txt");

  for (const std::string& path : {sources_.Join("missing.txt"), sources_.Join("folder.png"), fifo,
                                  std::string("/dev/zero"), file + std::string("\0.txt", 5)}) {
    SCOPED_TRACE(path);
    ExpectFailure(IngestFile(path, IngestKind::File), "not_found");
  }
  ExpectFailure(IngestLocalPath("real.txt"), "not_found");
  ExpectFailure(IngestLocalPath(""), "not_found");
}

TEST_F(IngestTest, KindAndSizeLimitsComeBeforeAnyCopy) {
  const std::string video = SparseSource("clip.mp4", 150 * kMiB);
  ExpectFailure(IngestFile(video, IngestKind::File), "too_large");
  ExpectFailure(IngestFile(video, IngestKind::Media), "unsupported");
  ExpectFailure(IngestFile(Source("a.txt"), IngestKind::Media), "unsupported");
  ExpectFailure(IngestFile(SparseSource("big.bin", kMaxFileSourceBytes + 1), IngestKind::File), "too_large");
  ExpectFailure(IngestFile(SparseSource("huge.png", kMaxImageSourceBytes + 1), IngestKind::Media), "too_large");
}

TEST_F(IngestTest, TheStagingBudgetIsOneGibibyte) {
  const std::string earlier = staging_ + "/0F8FAD5B-D9CB-469F-A165-70867728950E";
  fs::create_directories(earlier);
  testing::WriteTextFile(earlier + "/earlier.bin", "");
  fs::resize_file(earlier + "/earlier.bin", kMaxStagingBytes - 10);

  const IngestResult over = IngestLocalPath(Source("eleven.txt", "12345678901"));
  EXPECT_EQ(over.error, "disk_full");
  EXPECT_EQ(StagedEntries().size(), 1u);
  ExpectStagedAlone(IngestLocalPath(Source("ten.txt", "1234567890")));
}

TEST_F(IngestTest, CopiesStopAtTheLimitWhateverTheMeasuredSize) {
  // Files under /proc measure 0 bytes and still hold text.
  const IngestResult status = IngestLocalPath("/proc/self/status");
  ExpectStagedAlone(status);
  EXPECT_GT(status.size, 0u);

  platform::UniqueFd folder = platform::OpenFolderNoFollow(sources_.path());
  const platform::FileOpResult capped = platform::CopyFileInto("/proc/self/status", folder, "copy", 10);
  EXPECT_EQ(capped.status, platform::FileOpStatus::TooLarge);
  EXPECT_FALSE(fs::exists(sources_.Join("copy"))) << "the partial copy is removed";
}

TEST_F(IngestTest, AStagingFolderReplacedByALinkIsNotUsed) {
  const std::string elsewhere = sources_.Join("elsewhere");
  fs::create_directories(elsewhere);
  fs::remove_all(staging_);
  fs::create_directory_symlink(elsewhere, staging_);
  EXPECT_EQ(IngestLocalPath(Source("a.txt")).error, "copy_failed");
  EXPECT_EQ(StageClipboardImage(images::Bmp(images::Make(4, 4, Smooth)), "bmp", "image").error, "copy_failed");
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(IngestTest, LargeJpegIsReencodedUprightAt2048) {
  const std::string plain = Source("Big photo.jpeg", images::JpegOf(4000, 3000, Smooth));
  const IngestResult result = IngestFile(plain, IngestKind::Media);
  ExpectStagedAlone(result);
  EXPECT_EQ(result.name, "Big photo.jpg");
  EXPECT_EQ(result.mime, "image/jpeg");
  EXPECT_EQ(PictureSize(result.width, result.height), PictureSize(2048, 1536));
  EXPECT_EQ(SizeOf(ReadTextFile(result.path)), PictureSize(2048, 1536));
  EXPECT_EQ(ThumbSize(result.thumb), PictureSize(128, 96));

  const std::string turned = Source("turned.jpg", images::JpegOf(4000, 3000, Smooth, images::ExifOrientation(6)));
  const IngestResult upright = IngestFile(turned, IngestKind::Media);
  ExpectStagedAlone(upright);
  EXPECT_EQ(PictureSize(upright.width, upright.height), PictureSize(1536, 2048));
  EXPECT_EQ(ReadOrientation(upright.path), 1);
  EXPECT_EQ(SizeOf(ReadTextFile(upright.path)), PictureSize(1536, 2048)) << "the pixels themselves turned";
  EXPECT_EQ(ThumbSize(upright.thumb), PictureSize(96, 128));
}

// Names at the 255-byte limit of Linux: the encoder's temporary file beside
// the target must not need more.
TEST_F(IngestTest, ReencodedImagesWithNamesAtTheByteLimit) {
  const std::string hangul = "\xED\x95\x9C";  // 3 bytes
  for (size_t ascii = 2; ascii <= 5; ++ascii) {
    std::string stem;
    for (int i = 0; i < 82; ++i) stem += hangul;
    stem += std::string(ascii, 'a');
    const std::string name = stem + ".jpg";  // 252 to 255 bytes
    SCOPED_TRACE(name.size());
    const IngestResult result = IngestFile(Source(name, images::Jpeg(images::Make(64, 48, Smooth))), IngestKind::Media);
    ExpectStagedAlone(result);
    EXPECT_EQ(result.name, name);
    EXPECT_EQ(SizeOf(ReadTextFile(result.path)), PictureSize(64, 48));
  }
}

TEST_F(IngestTest, SmallPngIsKeptAndLargePngStaysPng) {
  const std::string small = Source("Screen shot.png", images::Png(images::Make(1024, 768, Smooth), false));
  const IngestResult kept = IngestFile(small, IngestKind::Media);
  ExpectStagedAlone(kept);
  EXPECT_EQ(kept.name, "Screen shot.png");
  EXPECT_EQ(kept.mime, "image/png");
  EXPECT_EQ(PictureSize(kept.width, kept.height), PictureSize(1024, 768));
  EXPECT_EQ(ReadTextFile(kept.path), ReadTextFile(small)) << "copied byte for byte";
  EXPECT_EQ(ThumbSize(kept.thumb), PictureSize(128, 96));

  const std::string large = Source("wide.PNG", images::Png(images::Quadrants(3000, 2000, /*clearCorner=*/true), true));
  const IngestResult redone = IngestFile(large, IngestKind::File);
  ExpectStagedAlone(redone);
  EXPECT_EQ(redone.name, "wide.png");
  EXPECT_EQ(redone.mime, "image/png");
  EXPECT_EQ(PictureSize(redone.width, redone.height), PictureSize(2048, 1365));
  const std::string bytes = ReadTextFile(redone.path);
  EXPECT_EQ(SizeOf(bytes), PictureSize(2048, 1365));
  EXPECT_TRUE(PngHasAlpha(bytes)) << "transparency is kept";
}

TEST_F(IngestTest, OpaquePngThatStaysTooLargeBecomesJpeg) {
  uint32_t noise = 0x9E3779B9;
  const auto next = [&noise] {
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    return static_cast<uint8_t>(noise >> 24);
  };
  const images::Bitmap grain = images::Make(2048, 2048, [&](uint32_t, uint32_t) {
    return images::Bgra{next(), next(), next(), 255};
  });
  const std::string noisy = Source("noise.png", images::Png(grain, false));
  ASSERT_GT(fs::file_size(noisy), kMaxStagedImageBytes) << "too large to keep, and as large again when re-encoded";
  const IngestResult result = IngestFile(noisy, IngestKind::Media);
  ExpectStagedAlone(result);
  EXPECT_EQ(result.name, "noise.jpg");
  EXPECT_EQ(result.mime, "image/jpeg");
  EXPECT_EQ(SizeOf(ReadTextFile(result.path)), PictureSize(2048, 2048));
}

TEST_F(IngestTest, GifsAreCopiedUnchangedUpToTenMebibytes) {
  const std::string animation = Source("dance.gif", PaddedGif(2'000'000));
  const IngestResult kept = IngestFile(animation, IngestKind::Media);
  ExpectStagedAlone(kept);
  EXPECT_EQ(kept.mime, "image/gif");
  EXPECT_EQ(PictureSize(kept.width, kept.height), PictureSize(64, 48));
  EXPECT_EQ(ReadTextFile(kept.path), ReadTextFile(animation));
  ASSERT_TRUE(DiscardStaged(kept.path));

  ExpectFailure(IngestFile(Source("long.gif", PaddedGif(12'000'000)), IngestKind::Media), "too_large");
}

TEST_F(IngestTest, ImagesThatCannotBeReadAreRefusedButWebpIsKept) {
  // The header alone claims 12000 x 12000: refused on the probe, before any decode.
  ExpectFailure(IngestFile(Source("huge.png", images::PngHeaderOnly(12000, 12000)), IngestKind::Media),
                "too_large");
  ExpectFailure(IngestFile(Source("broken.jpg", "not a picture"), IngestKind::Media), "unsupported");
  ExpectFailure(IngestFile(Source("broken.png", images::PngHeaderOnly(3000, 3000)), IngestKind::Media),
                "unsupported");

  const IngestResult webp = IngestFile(Source("odd.webp", "RIFF....WEBPnot really"), IngestKind::Media);
  ExpectStagedAlone(webp);
  EXPECT_EQ(webp.mime, "image/webp");
  EXPECT_EQ(webp.width, 0u);
  EXPECT_TRUE(webp.thumb.empty());
}

TEST_F(IngestTest, OtherImageFilesBecomeJpegAndWebpIsKeptAsItIs) {
  const IngestResult bmp = IngestFile(Source("scan.bmp", images::Bmp(images::Make(300, 200, Smooth))), IngestKind::Media);
  ExpectStagedAlone(bmp);
  EXPECT_EQ(bmp.name, "scan.jpg");
  EXPECT_EQ(bmp.mime, "image/jpeg");
  EXPECT_EQ(SizeOf(ReadTextFile(bmp.path)), PictureSize(300, 200));

  const std::string webp = images::WebP(images::Make(120, 80, Smooth));
  const IngestResult kept = IngestFile(Source("sticker.webp", webp), IngestKind::Media);
  ExpectStagedAlone(kept);
  EXPECT_EQ(kept.name, "sticker.webp");
  EXPECT_EQ(ReadTextFile(kept.path), webp) << "copied byte for byte";
  EXPECT_EQ(PictureSize(kept.width, kept.height), PictureSize(120, 80));
}

TEST_F(IngestTest, ClipboardImagesAreStagedAsPng) {
  const std::string png = images::Png(images::Make(100, 50, Smooth), false);
  const IngestResult fromPng = StageClipboardImage(png, "png", "image");
  ExpectStagedAlone(fromPng);
  EXPECT_EQ(fromPng.name, "image.png");
  EXPECT_EQ(fromPng.mime, "image/png");
  EXPECT_EQ(ReadTextFile(fromPng.path), png);
  EXPECT_EQ(ThumbSize(fromPng.thumb), PictureSize(100, 50));

  const IngestResult fromBmp = StageClipboardImage(images::Bmp(images::Make(300, 200, Smooth)), "bmp", "image");
  ExpectStagedAlone(fromBmp);
  EXPECT_EQ(fromBmp.name, "image.png");
  EXPECT_EQ(fromBmp.mime, "image/png");
  EXPECT_EQ(PictureSize(fromBmp.width, fromBmp.height), PictureSize(300, 200));
  const std::string converted = ReadTextFile(fromBmp.path);
  EXPECT_EQ(SizeOf(converted), PictureSize(300, 200));
  EXPECT_FALSE(PngHasAlpha(converted));

  for (const std::string& name : StagedEntries()) EXPECT_EQ(name.rfind("stage-", 0), std::string::npos) << name;
}

// Red, green, blue and white quarters, as images::Quadrants draws them.
void ExpectQuadrants(const std::string& path) {
  const auto picture = DecodeOriented(path, 0);
  ASSERT_TRUE(picture.has_value());
  const uint32_t right = picture->width - 4, bottom = picture->height - 4;
  const struct {
    uint32_t x, y;
    images::Bgra colour;
  } corners[] = {{3, 3, {0, 0, 255, 255}}, {right, 3, {0, 255, 0, 255}}, {3, bottom, {255, 0, 0, 255}},
                 {right, bottom, {255, 255, 255, 255}}};
  for (const auto& corner : corners) {
    const images::Bgra pixel = images::PixelAt(*picture, corner.x, corner.y);
    for (size_t c = 0; c < 4; ++c) EXPECT_NEAR(pixel[c], corner.colour[c], 16) << corner.x << "," << corner.y;
  }
}

TEST_F(IngestTest, BmpWithAnAlphaMaskButNoAlpha_KeepsItsColours) {
  // A BITMAPV5 BI_BITFIELDS screenshot that declares an alpha mask and
  // leaves every alpha byte 0.
  images::Bitmap shot = images::Quadrants(300, 200);
  for (size_t i = 3; i < shot.bgra.size(); i += 4) shot.bgra[i] = 0;
  const std::string bmp = images::Bmp(shot, {32, false, 124, true, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}});

  const IngestResult file = IngestFile(Source("shot.bmp", bmp), IngestKind::Media);
  ExpectStagedAlone(file);
  EXPECT_EQ(file.mime, "image/jpeg");
  ExpectQuadrants(file.path);

  const IngestResult pasted = StageClipboardImage(bmp, "bmp", "image");
  ExpectStagedAlone(pasted);
  EXPECT_EQ(pasted.mime, "image/png");
  ExpectQuadrants(pasted.path);
}

TEST_F(IngestTest, JpegWithTooManyScans_IsDecodeFailed) {
  const std::string hostile = images::JpegScans(300, 200, kMaxJpegScans + 1);
  ExpectFailure(IngestFile(Source("many.jpg", hostile), IngestKind::Media), "decode_failed");
  ExpectFailure(IngestFile(Source("many.jpeg", hostile), IngestKind::File), "decode_failed");
  ExpectFailure(StageClipboardImage(hostile, "bmp", "image"), "decode_failed");  // read by content
  ExpectStagedAlone(IngestFile(Source("fine.jpg", images::JpegScans(300, 200, kMaxJpegScans)), IngestKind::Media));
}

TEST_F(IngestTest, ClipboardDataThatIsNotAnImageLeavesNothing) {
  ExpectFailure(StageClipboardImage("", "png", "image"), "unsupported");
  ExpectFailure(StageClipboardImage("GIF89a", "gif", "image"), "unsupported");
  ExpectFailure(StageClipboardImage("BM not a bitmap", "bmp", "image"), "unsupported");
  ExpectFailure(StageClipboardImage("not a png", "png", "image"), "unsupported");
}

TEST_F(IngestTest, ClipboardBytesCountOnceAgainstTheBudget) {
  const std::string bytes = images::Png(images::Make(40, 30, Smooth), false);
  const std::string earlier = staging_ + "/0F8FAD5B-D9CB-469F-A165-70867728950E";
  fs::create_directories(earlier);
  testing::WriteTextFile(earlier + "/earlier.bin", "");
  // Room for the image once, not twice.
  fs::resize_file(earlier + "/earlier.bin", kMaxStagingBytes - bytes.size() - bytes.size() / 2);

  ExpectStagedAlone(StageClipboardImage(bytes, "png", "image"));
  EXPECT_EQ(StagedEntries().size(), 2u);
  EXPECT_EQ(StageClipboardImage(bytes, "png", "image").error, "disk_full");
}

}  // namespace
}  // namespace VirelantDesktop::attach
