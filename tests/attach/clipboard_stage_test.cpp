// What "readClipboard" stages from each kind of clipboard content.
#include "modules/attach/clipboard_stage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/attach/image_samples.h"
#include "tests/attach/staging_fixture.h"

namespace VirelantDesktop::attach {
namespace {

namespace fs = std::filesystem;

class ClipboardStageTest : public testing::StagingTest {
 protected:
  static platform::ClipboardSnapshot Snapshot() { return platform::ClipboardSnapshot{}; }
};

TEST_F(ClipboardStageTest, TextWinsFilesAreCappedAndImagesAreStagedAsImagePng) {
  platform::ClipboardSnapshot text = Snapshot();
  text.text = true;
  text.png = testing::images::Png(testing::images::Quadrants(8, 8), false);  // text and an image: the page pastes the text
  EXPECT_EQ(StageClipboardSnapshot(text, 50), JSValueArray{});
  EXPECT_EQ(StageClipboardSnapshot(Snapshot(), 50), JSValueArray{}) << "nothing usable";

  platform::ClipboardSnapshot files = Snapshot();
  const std::string a = Source("a.txt"), b = Source("b b.txt"), c = Source("c.txt");
  files.uriList = "file://" + a + "\r\nfile://" + fs::path(b).parent_path().string() + "/b%20b.txt\r\nfile://" + c + "\r\n";
  const JSValue two = StageClipboardSnapshot(files, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0]["name"], "a.txt");
  EXPECT_EQ(two[1]["name"], "b b.txt");
  EXPECT_TRUE(two[1].contains("path")) << two.dump();

  platform::ClipboardSnapshot copied = Snapshot();
  copied.uriList = "copy\nfile://" + c;
  copied.copiedFiles = true;
  const JSValue one = StageClipboardSnapshot(copied, 50);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0]["name"], "c.txt");

  platform::ClipboardSnapshot png = Snapshot();
  png.png = testing::images::Png(testing::images::Quadrants(16, 12), false);
  const JSValue image = StageClipboardSnapshot(png, 50);
  ASSERT_EQ(image.size(), 1u);
  EXPECT_TRUE(image[0].contains("path")) << image.dump();
  EXPECT_EQ(image[0]["name"], "image.png");
  EXPECT_EQ(image[0]["width"], 16);
}

TEST_F(ClipboardStageTest, BitmapsTooLargeImagesAndAMissingClipboard) {
  // A 2 x 2 bitmap at 32 bits, no file header: staged as image.png.
  std::string dib(40, '\0');
  dib[0] = 40;
  dib[4] = 2;
  dib[8] = 2;
  dib[12] = 1;
  dib[14] = 32;
  dib.append(16, '\x40');
  platform::ClipboardSnapshot bitmap = Snapshot();
  bitmap.dib = dib;
  const JSValue staged = StageClipboardSnapshot(bitmap, 50);
  ASSERT_EQ(staged.size(), 1u);
  EXPECT_TRUE(staged[0].contains("path")) << staged.dump();
  EXPECT_EQ(staged[0]["name"], "image.png");

  bitmap.dib = dib.substr(0, 30);
  EXPECT_EQ(StageClipboardSnapshot(bitmap, 50)[0]["error"], "unsupported");
  std::string huge = dib;
  huge[5] = 0x40;  // 16386 x 16386... pixels
  huge[9] = 0x40;
  bitmap.dib = huge;
  EXPECT_EQ(StageClipboardSnapshot(bitmap, 50)[0]["error"], "too_large");

  platform::ClipboardSnapshot large = Snapshot();
  large.imageTooLarge = true;
  EXPECT_EQ(StageClipboardSnapshot(large, 50)[0]["error"], "too_large");

  platform::ClipboardSnapshot gone = Snapshot();
  gone.available = false;
  EXPECT_EQ(StageClipboardSnapshot(gone, 50)[0]["error"], "copy_failed");
}

}  // namespace
}  // namespace VirelantDesktop::attach
