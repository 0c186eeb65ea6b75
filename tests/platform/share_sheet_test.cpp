// What the share sheet offers for a payload and what each target is handed,
// and the copy "Save as…" makes of the shared file.
#include "platform/share_sheet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/save_copy.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

namespace fs = std::filesystem;
using Targets = std::vector<ShareTarget>;

SharePayload Payload(std::string text, std::optional<std::string> url = std::nullopt,
                     std::optional<std::string> file = std::nullopt) {
  SharePayload payload;
  payload.title = "TALVEK";
  payload.text = std::move(text);
  payload.url = std::move(url);
  payload.filePath = std::move(file);
  return payload;
}

TEST(ShareSheet, TargetsFollowWhatIsSharedAndWhatTheDesktopCanDo) {
  const ShareMeans mail{true}, noMail{false};
  EXPECT_EQ(ShareTargetsFor(Payload("hi"), mail), (Targets{ShareTarget::Email, ShareTarget::Copy}));
  EXPECT_EQ(ShareTargetsFor(Payload("hi"), noMail), (Targets{ShareTarget::Copy}));
  EXPECT_EQ(ShareTargetsFor(Payload("", "https://a.com/"), noMail), (Targets{ShareTarget::OpenWith, ShareTarget::Copy}));
  EXPECT_EQ(ShareTargetsFor(Payload("hi", std::nullopt, "/c/tmp/g/a.pdf"), mail),
            (Targets{ShareTarget::Email, ShareTarget::OpenWith, ShareTarget::Copy, ShareTarget::SaveAs}));
  EXPECT_STREQ(ShareTargetLabel(ShareTarget::OpenWith), "Open with\u2026");
  EXPECT_STREQ(ShareTargetLabel(ShareTarget::SaveAs), "Save as\u2026");
}

TEST(ShareSheet, TextLinkAndFileAsTheTargetsTakeThem) {
  EXPECT_EQ(ShareText(Payload("look", "https://a.com/")), "look\nhttps://a.com/");
  EXPECT_EQ(ShareText(Payload("look\n", "https://a.com/")), "look\nhttps://a.com/") << "no empty line";
  EXPECT_EQ(ShareText(Payload("", "https://a.com/")), "https://a.com/");
  EXPECT_EQ(ShareText(Payload("only")), "only");

  EXPECT_EQ(ShareSummary(Payload("first\nsecond", "https://a.com/", "/c/tmp/g/a b.pdf")), "a b.pdf");
  EXPECT_EQ(ShareSummary(Payload("first\nsecond", "https://a.com/")), "first");
  EXPECT_EQ(ShareSummary(Payload("", "https://a.com/")), "https://a.com/");

  EXPECT_EQ(UriListOf("file:///c/a%20b.pdf"), "file:///c/a%20b.pdf\r\n");
  EXPECT_EQ(GnomeCopiedFilesOf("file:///c/a%20b.pdf"), "copy\nfile:///c/a%20b.pdf");

  // Each value is one argument, whatever it starts with or holds.
  EXPECT_EQ(XdgEmailArguments(Payload("--attach /etc/passwd", "https://a.com/", "/c/tmp/g/a.pdf")),
            (std::vector<std::string>{"xdg-email", "--utf8", "--subject", "TALVEK", "--body",
                                      "--attach /etc/passwd\nhttps://a.com/", "--attach", "/c/tmp/g/a.pdf"}));
  EXPECT_EQ(XdgEmailArguments(Payload("", std::nullopt, "/f")),
            (std::vector<std::string>{"xdg-email", "--utf8", "--subject", "TALVEK", "--attach", "/f"}));
}

TEST(ShareSheet, WithoutAnInstalledSheetNothingShows) {
  InstallShareSheet(nullptr);
  bool called = false;
  EXPECT_EQ(ShowShareSheet(Payload("hi"), [&](ShareSheetEnd) { called = true; }), nullptr);
  EXPECT_FALSE(called);
}

TEST(SaveCopy, TheWholeFileUnderTheChosenNameNeverThroughALink) {
  testing::TempDir dir;
  testing::WriteTextFile(dir.Join("source.txt"), "shared content");
  const UniqueFd source(::open(dir.Join("source.txt").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(source);
  char skip[6];
  ASSERT_EQ(::read(source.Get(), skip, sizeof skip), 6) << "a read before the copy moves the offset";

  ASSERT_TRUE(SaveCopyOfOpenFile(source, dir.Join("saved.txt")));
  EXPECT_EQ(testing::ReadTextFile(dir.Join("saved.txt")), "shared content");
  // A second save replaces the first.
  testing::WriteTextFile(dir.Join("saved.txt"), "older");
  ASSERT_TRUE(SaveCopyOfOpenFile(source, dir.Join("saved.txt")));
  EXPECT_EQ(testing::ReadTextFile(dir.Join("saved.txt")), "shared content");

  // A link under the chosen name is replaced, its target left alone.
  testing::WriteTextFile(dir.Join("target.txt"), "keep me");
  fs::create_symlink(dir.Join("target.txt"), dir.Join("link.txt"));
  ASSERT_TRUE(SaveCopyOfOpenFile(source, dir.Join("link.txt")));
  EXPECT_FALSE(fs::is_symlink(dir.Join("link.txt")));
  EXPECT_EQ(testing::ReadTextFile(dir.Join("target.txt")), "keep me");

  // Nowhere to save: nothing is left behind.
  EXPECT_FALSE(SaveCopyOfOpenFile(source, dir.Join("missing/saved.txt")));
  EXPECT_FALSE(SaveCopyOfOpenFile(source, "relative.txt"));
  EXPECT_FALSE(SaveCopyOfOpenFile(source, dir.path() + "/"));
  EXPECT_FALSE(SaveCopyOfOpenFile(UniqueFd(), dir.Join("other.txt")));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"link.txt", "saved.txt", "source.txt", "target.txt"}));
}

}  // namespace
}  // namespace VirelantDesktop::platform
