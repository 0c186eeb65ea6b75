// talvek-feed run twice into one feed folder, and on input folders the apply
// helper would refuse.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using VirelantDesktop::testing::ChildProcess;
using VirelantDesktop::testing::ReadTextFile;
using VirelantDesktop::testing::TempDir;
using VirelantDesktop::testing::WriteTextFile;

constexpr auto kDeadline = std::chrono::seconds(60);

class TalvekFeedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = temp_.Join("input");
    feed_ = temp_.Join("feed");
    fs::create_directories(input_ + "/Bundle");
    WriteTextFile(input_ + "/talvek", "program");
    WriteTextFile(input_ + "/talvek-update-apply", "helper");
    WriteTextFile(input_ + "/libtalvek-update.so", "library");
    WriteTextFile(input_ + "/Bundle/index.windows", "bundle");
    chmod((input_ + "/talvek").c_str(), 0755);
    chmod((input_ + "/talvek-update-apply").c_str(), 0755);
  }

  int Pack(const std::string& version, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {TALVEK_FEED_PATH, "--input", input_, "--id", "talvek", "--version", version,
                                     "--out", feed_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ChildProcess packer(argv);
    return packer.Wait(kDeadline);
  }

  std::vector<std::string> FeedFiles() const {
    std::vector<std::string> names;
    if (!fs::exists(feed_)) return names;
    for (const auto& entry : fs::directory_iterator(feed_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir temp_;
  std::string input_;
  std::string feed_;
};

TEST_F(TalvekFeedTest, EachRunReplacesTheFilesOfOneRelease) {
  const std::string pause = temp_.Join("pause.json");
  WriteTextFile(pause, "{\"paused\":true}");
  std::vector<std::string> first = {"--pause", pause};
#ifdef TALVEK_DEV_SIGNING_KEY
  first.insert(first.end(), {"--key", TALVEK_DEV_SIGNING_KEY, "--sign-tool", TALVEK_SIGN_PATH});
#else
  WriteTextFile(feed_ + "/manifest.sig", "signature of another manifest");
#endif
  ASSERT_EQ(Pack("1.1.0", first), 0);
  EXPECT_TRUE(fs::exists(feed_ + "/manifest.sig"));
  EXPECT_EQ(ReadTextFile(feed_ + "/pause.json"), "{\"paused\":true}");

  // Unsigned and unpaused: no signature of 1.1.0's manifest, no old pause.
  ASSERT_EQ(Pack("1.2.0"), 0);
  EXPECT_EQ(FeedFiles(), (std::vector<std::string>{"manifest.json", "releases.json", "talvek-1.1.0-full.nupkg",
                                                   "talvek-1.2.0-full.nupkg"}));
  EXPECT_NE(ReadTextFile(feed_ + "/manifest.json").find("\"version\":\"1.2.0\""), std::string::npos);
  const auto releases = nlohmann::json::parse(ReadTextFile(feed_ + "/releases.json"));
  ASSERT_EQ(releases["Assets"].size(), 2u);
  EXPECT_EQ(releases["Assets"][0]["Version"], "1.1.0");
  EXPECT_EQ(releases["Assets"][1]["Version"], "1.2.0");
}

TEST_F(TalvekFeedTest, AnInputThatCouldNotStartIsRefused) {
  // (The reason goes to standard error, which shows in the test log.)
  const auto refused = [&](const char* what) {
    SCOPED_TRACE(what);
    ChildProcess packer({TALVEK_FEED_PATH, "--input", input_, "--id", "talvek", "--version", "1.1.0", "--out", feed_});
    EXPECT_EQ(packer.Wait(kDeadline), 1);
    EXPECT_TRUE(FeedFiles().empty()) << "nothing is written";
  };
  chmod((input_ + "/talvek").c_str(), 0644);
  refused("executable without the execute bit");
  fs::remove(input_ + "/talvek");
  fs::create_symlink(input_ + "/talvek-update-apply", input_ + "/talvek");
  refused("executable a link");
  fs::remove(input_ + "/talvek");
  refused("no executable");
  WriteTextFile(input_ + "/talvek", "program");
  chmod((input_ + "/talvek").c_str(), 0755);
  fs::remove(input_ + "/libtalvek-update.so");
  refused("no update library");
  WriteTextFile(input_ + "/libtalvek-update.so", "library");
  ASSERT_EQ(Pack("1.1.0"), 0);
}

}  // namespace
