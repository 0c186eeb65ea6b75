#include "modules/shell/shell_rules.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::shell {
namespace {

TEST(ShellRules, OpenableUrls) {
  EXPECT_TRUE(IsOpenableUrl("https://a"));
  EXPECT_TRUE(IsOpenableUrl("HTTPS://Example.com/p?q=1#f"));
  EXPECT_TRUE(IsOpenableUrl("https://example.com/caf\xC3\xA9"));
  EXPECT_FALSE(IsOpenableUrl("https://")) << "8 bytes";
  EXPECT_FALSE(IsOpenableUrl("http://example.com"));
  EXPECT_FALSE(IsOpenableUrl("mailto:a@b.c"));
  for (const char* after : {"/", "#", "?"}) EXPECT_FALSE(IsOpenableUrl(std::string("https://") + after + "x"));
  for (const char* bad : {" ", "\"", "<", ">", "\\", "^", "`", "{", "|", "}", "\x01", "\x7F", "\t"}) {
    EXPECT_FALSE(IsOpenableUrl(std::string("https://a/") + bad)) << static_cast<int>(bad[0]);
  }
  EXPECT_FALSE(IsOpenableUrl(std::string("https://a/\0", 11)));
  const std::string base = "https://a/";
  EXPECT_TRUE(IsOpenableUrl(base + std::string(2048 - base.size(), 'x')));
  EXPECT_FALSE(IsOpenableUrl(base + std::string(2049 - base.size(), 'x')));
}

TEST(ShellRules, FolderPaths) {
  EXPECT_TRUE(IsAcceptableFolderPath("/tm"));
  EXPECT_TRUE(IsAcceptableFolderPath("/home/user/Downloads"));
  EXPECT_FALSE(IsAcceptableFolderPath("/a")) << "under 3 bytes";
  EXPECT_FALSE(IsAcceptableFolderPath(""));
  EXPECT_FALSE(IsAcceptableFolderPath("relative/path"));
  EXPECT_FALSE(IsAcceptableFolderPath("C:/Users"));
  EXPECT_FALSE(IsAcceptableFolderPath("\\\\?\\C:\\x"));
  EXPECT_FALSE(IsAcceptableFolderPath("\\\\server\\share"));
  EXPECT_FALSE(IsAcceptableFolderPath("//?/C:/x"));
}

TEST(ShellRules, Version) {
  EXPECT_EQ(AppVersion("0.2.1.0"), "0.2.1");
  EXPECT_EQ(AppVersion("10.20.30"), "10.20.30");
  EXPECT_EQ(AppVersion("007.1.2.3"), "7.1.2");
  EXPECT_EQ(AppVersion("1.2"), "0.0.0");
  EXPECT_EQ(AppVersion(""), "0.0.0");
  EXPECT_EQ(AppVersion("1.x.3"), "0.0.0");
}

}  // namespace
}  // namespace VirelantDesktop::shell
