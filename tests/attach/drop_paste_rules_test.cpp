// The rules of dropping and pasting attachments, free of any toolkit: the
// drop target's answers and notifications, the paths a drag or a copy
// carries, the paste chord, and clipboard bitmaps turned into .bmp files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modules/attach/bmp_reader.h"
#include "modules/attach/dib_to_bmp.h"
#include "modules/attach/drop_target.h"
#include "modules/attach/paste_chord.h"
#include "modules/attach/pick_plan.h"

namespace VirelantDesktop {
namespace {

using filedrop::AllowedEffects;
using filedrop::DropEffect;

struct Recorded {
  std::vector<std::string> events;
  filedrop::Target target;
  Recorded() {
    target.onHover = [this](bool over) { events.push_back(over ? "hover on" : "hover off"); };
    target.onDrop = [this](std::vector<std::string> paths) {
      std::string line = "drop";
      for (const auto& p : paths) line += " " + p;
      events.push_back(line);
    };
  }
};

TEST(DropTarget, FilesAreTakenOnlyWhileEnabledWithOneHoverEach) {
  Recorded r;
  const AllowedEffects copy{true, true}, linkOnly{false, true}, nothing{};
  // Disabled: refused silently.
  EXPECT_EQ(r.target.DragEnter(true, copy), DropEffect::None);
  EXPECT_EQ(r.target.Drop({"/a"}, copy), DropEffect::None);
  EXPECT_TRUE(r.events.empty());

  r.target.SetEnabled(true);
  EXPECT_EQ(r.target.DragEnter(false, copy), DropEffect::None) << "text, not files";
  EXPECT_EQ(r.target.DragOver(copy), DropEffect::None);
  r.target.DragLeave();
  EXPECT_TRUE(r.events.empty());

  EXPECT_EQ(r.target.DragEnter(true, copy), DropEffect::Copy);
  EXPECT_EQ(r.target.DragEnter(true, copy), DropEffect::Copy);  // entering a child: no second "on"
  EXPECT_EQ(r.target.DragOver(linkOnly), DropEffect::Link);
  EXPECT_EQ(r.target.DragOver(nothing), DropEffect::None);
  EXPECT_EQ(r.target.Drop({"/a", "/b"}, copy), DropEffect::Copy);
  EXPECT_EQ(r.events, (std::vector<std::string>{"hover on", "hover off", "drop /a /b"}));

  // Turned off mid-drag: the drop is refused, the hover still ends.
  r.events.clear();
  r.target.DragEnter(true, copy);
  r.target.SetEnabled(false);
  EXPECT_EQ(r.target.DragOver(copy), DropEffect::None);
  EXPECT_EQ(r.target.Drop({"/a"}, copy), DropEffect::None);
  EXPECT_EQ(r.events, (std::vector<std::string>{"hover on", "hover off"}));

  // A drop that carried no usable path sends nothing.
  r.events.clear();
  r.target.SetEnabled(true);
  r.target.DragEnter(true, copy);
  EXPECT_EQ(r.target.Drop({}, copy), DropEffect::None);
  EXPECT_EQ(r.events, (std::vector<std::string>{"hover on", "hover off"}));
  EXPECT_FALSE(r.target.HoverActive());
}

TEST(DropTarget, UriListsGiveAbsoluteLocalPathsInOrderUpToTheLimit) {
  const std::string list =
      "# a comment\r\n"
      "file:///home/u/a%20b.png\r\n"
      "https://example.com/x.png\r\n"
      "file://localhost/home/u/c.txt\r\n"
      "file://otherhost/share/d.txt\r\n"
      "FILE:///home/u/%C3%A9t%C3%A9.jpg\n"
      "file:///home/u/bad%2\n"
      "file:///home/u/nul%00x\n"
      "file://relative\n"
      "\n"
      "file:///home/u/last.pdf?query#frag";
  EXPECT_EQ(filedrop::PathsFromUriList(list, 50),
            (std::vector<std::string>{"/home/u/a b.png", "/home/u/c.txt", "/home/u/\xC3\xA9t\xC3\xA9.jpg",
                                      "/home/u/last.pdf"}));
  EXPECT_EQ(filedrop::PathsFromUriList(list, 2), (std::vector<std::string>{"/home/u/a b.png", "/home/u/c.txt"}));

  std::string many;
  for (int i = 0; i < 80; ++i) many += "file:///f" + std::to_string(i) + "\r\n";
  const auto first50 = filedrop::PathsFromUriList(many, 50);
  ASSERT_EQ(first50.size(), 50u);
  EXPECT_EQ(first50.front(), "/f0");
  EXPECT_EQ(first50.back(), "/f49");

  EXPECT_EQ(filedrop::PathsFromCopiedFiles("copy\nfile:///a\nfile:///b", 50), (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(filedrop::PathsFromCopiedFiles("cut\nfile:///a", 50), (std::vector<std::string>{"/a"}));
  EXPECT_EQ(filedrop::PathsFromCopiedFiles("file:///a", 50), (std::vector<std::string>{"/a"}));
}

TEST(PasteChord, CtrlVAndShiftInsertOnlyWithFilesOrAnImageAndNoText) {
  using attach::ChordKey;
  using attach::KeyPress;
  EXPECT_TRUE(attach::IsPasteChord(KeyPress{ChordKey::V, true, false, false, false}));
  EXPECT_TRUE(attach::IsPasteChord(KeyPress{ChordKey::Insert, false, true, false, false}));
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::V, true, true, false, false})) << "Ctrl+Shift+V";
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::V, false, false, true, false})) << "Alt+V";
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::V, true, false, true, false})) << "Ctrl+Alt+V";
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::V, true, false, false, true})) << "held down";
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::V, false, false, false, false})) << "plain V";
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::Insert, true, true, false, false})) << "Ctrl+Shift+Insert";
  EXPECT_FALSE(attach::IsPasteChord(KeyPress{ChordKey::Other, true, false, false, false}));

  EXPECT_TRUE(attach::AnnouncesPaste({false, true, false}));
  EXPECT_TRUE(attach::AnnouncesPaste({false, false, true}));
  EXPECT_FALSE(attach::AnnouncesPaste({true, false, true})) << "text and an image: the page pastes the text";
  EXPECT_FALSE(attach::AnnouncesPaste({false, false, false}));
}

// A BITMAPINFOHEADER of 40 bytes and its pixels.
std::string Dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t colours,
                size_t pixelBytes, size_t extra = 0) {
  std::string dib(40, '\0');
  auto put32 = [&dib](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  dib[12] = 1;
  dib[14] = static_cast<char>(bits & 0xff);
  dib[15] = static_cast<char>(bits >> 8);
  put32(16, compression);
  put32(32, colours);
  dib.append(extra, '\0');
  dib.append(pixelBytes, '\x7f');
  return dib;
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  return v;
}

TEST(DibToBmp, AFileHeaderInFrontOfTheUnchangedBytes) {
  // 3 x 2 at 24 bits: rows of 12 bytes (9 padded to 12).
  const std::string dib = Dib(3, -2, 24, 0, 0, 24);
  const std::string bmp = attach::DibToBmp(dib);
  ASSERT_EQ(bmp.size(), dib.size() + 14);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(Le32(bmp, 2), dib.size() + 14);
  EXPECT_EQ(Le32(bmp, 6), 0u);
  EXPECT_EQ(Le32(bmp, 10), 14u + 40u);
  EXPECT_EQ(bmp.substr(14), dib);
  EXPECT_TRUE(attach::ProbeBmp(bmp).has_value()) << "a .bmp the reader takes";

  // 8 bits: a colour table of 256 entries unless biClrUsed says otherwise;
  // bit fields in a 40-byte header: 12 bytes of masks.
  EXPECT_EQ(Le32(attach::DibToBmp(Dib(4, 1, 8, 0, 0, 4, 1024)), 10), 14u + 40u + 1024u);
  EXPECT_EQ(Le32(attach::DibToBmp(Dib(4, 1, 8, 0, 16, 4, 64)), 10), 14u + 40u + 64u);
  EXPECT_EQ(Le32(attach::DibToBmp(Dib(2, 1, 32, 3, 0, 8, 12)), 10), 14u + 40u + 12u);
}

TEST(DibToBmp, InconsistentEmptyOrHugeBitmapsAreRefused) {
  EXPECT_TRUE(attach::DibToBmp(std::string(39, '\0')).empty());
  std::string shortHeader = Dib(1, 1, 24, 0, 0, 4);
  shortHeader[0] = 39;
  EXPECT_TRUE(attach::DibToBmp(shortHeader).empty());
  std::string longHeader = Dib(1, 1, 24, 0, 0, 4);
  longHeader[0] = 100;  // more than the bytes given
  EXPECT_TRUE(attach::DibToBmp(longHeader).empty());
  EXPECT_TRUE(attach::DibToBmp(Dib(0, 5, 24, 0, 0, 64)).empty()) << "no width";
  EXPECT_TRUE(attach::DibToBmp(Dib(3, 2, 24, 0, 0, 23)).empty()) << "pixels cut short";
  EXPECT_TRUE(attach::DibToBmp(Dib(2, 1, 32, 3, 0, 8)).empty()) << "masks missing";
  EXPECT_TRUE(attach::DibToBmp(Dib(16384, 16385, 1, 2, 0, 16)).empty()) << "over 134,217,728 pixels";
  EXPECT_TRUE(attach::DibToBmp(Dib(-2147483647 - 1, 1, 24, 0, 0, 16)).empty()) << "the most negative width";
  EXPECT_TRUE(attach::DibToBmp(Dib(4, 1, 8, 0, 0xffffffffu, 4)).empty()) << "a colour table beyond the bytes";
  // Compressed pixels are not measured here (the reader checks them).
  EXPECT_FALSE(attach::DibToBmp(Dib(100, 100, 8, 1, 1, 8, 4)).empty());
}

TEST(PickPlan, KindCountSelectionAndFilter) {
  EXPECT_FALSE(attach::MakePickPlan("video", true, 3, "").has_value());
  EXPECT_FALSE(attach::MakePickPlan("Media", true, 3, "").has_value()) << "exactly";
  EXPECT_FALSE(attach::MakePickPlan("file", true, 0.5, "").has_value());
  EXPECT_FALSE(attach::MakePickPlan("file", true, std::nan(""), "").has_value());

  const auto one = attach::MakePickPlan("file", true, 1.9, "");
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->count, 1u);
  EXPECT_FALSE(one->multiple) << "a single file even when several were asked for";
  EXPECT_TRUE(one->patterns.empty());
  EXPECT_EQ(one->filterLabel, "*.*");

  const auto media = attach::MakePickPlan("media", true, 500, "Pictures");
  ASSERT_TRUE(media.has_value());
  EXPECT_EQ(media->count, 50u);
  EXPECT_TRUE(media->multiple);
  EXPECT_EQ(media->kind, attach::IngestKind::Media);
  EXPECT_EQ(media->patterns, (std::vector<std::string>{"*.png", "*.jpg", "*.jpeg", "*.gif", "*.webp", "*.heic",
                                                        "*.heif", "*.tif", "*.tiff", "*.bmp"}));
  EXPECT_EQ(media->filterLabel, "Pictures");
  EXPECT_EQ(attach::MakePickPlan("media", false, 5, "")->filterLabel, attach::kMediaPattern);
  EXPECT_FALSE(attach::MakePickPlan("media", false, 5, "")->multiple);
}

}  // namespace
}  // namespace VirelantDesktop
