// No Media operation reads, writes or deletes outside the cache root through
// a symbolic link, whichever level of a cache path the link sits at.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "modules/media/cache_scope.h"
#include "modules/media/media_operations.h"
#include "platform/confined_tree.h"
#include "platform/save_dialog.h"
#include "tests/media/media_test_fixture.h"

namespace VirelantDesktop::media {
namespace {

namespace fs = std::filesystem;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, '\x01');

// Every entry below `folder` with what could change: content, mode, last
// write, origin mark; links by their target.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string path = entry.path().string();
    struct stat info {};
    lstat(path.c_str(), &info);
    if (entry.is_symlink()) {
      entries[path] = "link " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      const std::string content = testing::ReadTextFile(path);
      entries[path] = "file of " + std::to_string(content.size()) + " bytes, hash " +
                      std::to_string(std::hash<std::string>()(content)) + " mode " + std::to_string(info.st_mode & 07777) +
                      " written " + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) +
                      " origin " + platform::OriginUrl(path);
    } else {
      entries[path] = "folder " + std::to_string(info.st_mode & 07777);
    }
  }
  return entries;
}

class MediaLinksTest : public MediaModuleTest {
 protected:
  void SetUp() override {
    MediaModuleTest::SetUp();
    Server().Get("/api/storage/a", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kPng, "image/png");
    });
    StartServer();
    platform::InstallSaveDialog([this](const std::string&, platform::SaveDialogDone done) {
      done(platform::PickOutcome::Chosen, dir_.Join("saved.png"));
    });
  }
  void TearDown() override {
    platform::InstallSaveDialog(nullptr);
    MediaModuleTest::TearDown();
  }

  // An outside folder that looks like the part of the cache below the link:
  // the scope folder's cached file of Url("a") (old, so a peek would touch
  // it), a ".part" beside it and a sentinel.
  std::string MakeOutside(const std::string& belowLink) {
    const std::string outside = dir_.Join("outside");
    fs::remove_all(outside);
    const std::string scope = belowLink.empty() ? outside : outside + "/" + belowLink;
    fs::create_directories(scope);
    const std::string cached = scope + "/" + CacheHash("w1", Url("a")) + ".png";
    testing::WriteTextFile(cached, kPng);
    platform::SetOriginUrl(cached, Url("a"));
    fs::last_write_time(cached, fs::file_time_type::clock::now() - std::chrono::hours(1));
    testing::WriteTextFile(scope + "/" + CacheHash("w1", Url("a")) + ".part", "partial");
    testing::WriteTextFile(scope + "/sentinel", "keep");
    return outside;
  }
  std::string Code(const std::string& method, const std::vector<JSValue>& args) {
    auto probe = CallAndWait(method, args);
    return probe->IsRejected() ? probe->Error().code : probe->Value().dump();
  }
};

TEST_F(MediaLinksTest, NoOperationReachesThroughALinkAtAnyLevel) {
  struct Level {
    const char* name;
    std::string linkAt;     // below the root
    std::string belowLink;  // the rest of the scope folder's path
  };
  const Level levels[] = {{"uid", "u1", "w1/t1"}, {"ws", "u1/w1", "t1"}, {"thread", "u1/w1/t1", ""}};
  for (const Level& level : levels) {
    SCOPED_TRACE(level.name);
    const std::string root = MediaRoot();
    ASSERT_FALSE(root.empty());
    for (const auto& entry : fs::directory_iterator(root)) fs::remove_all(entry.path());
    const std::string outside = MakeOutside(level.belowLink);
    const std::string link = root + "/" + level.linkAt;
    const auto placeLink = [&] {
      fs::create_directories(fs::path(link).parent_path());
      if (!fs::is_symlink(link)) fs::create_directory_symlink(outside, link);
    };
    placeLink();
    const auto before = Snapshot(outside);
    const std::string throughLink = root + "/u1/w1/t1/" + CacheHash("w1", Url("a")) + ".png";
    ASSERT_TRUE(fs::exists(throughLink));

    EXPECT_EQ(Code("peek", {Scope(), Url("a")}), "null");
    EXPECT_EQ(Snapshot(outside), before) << "peek";
    auto fetched = Fetch(Request("a", "image", "r1"));
    ASSERT_TRUE(Settle(fetched));
    EXPECT_EQ(fetched->IsRejected() ? fetched->Error().code : fetched->Value().dump(), "cache_unavailable");
    EXPECT_EQ(Snapshot(outside), before) << "fetchToCache";
    EXPECT_EQ(Code("remove", {Scope(), Url("a")}), "true");
    EXPECT_EQ(Snapshot(outside), before) << "remove";
    EXPECT_EQ(Code("stats", {}), R"({"bytes":0,"files":0})");
    for (const char* method : {"materialize", "saveCopy"}) {
      EXPECT_EQ(Code(method, {throughLink, "copy"}), "path_denied") << method;
    }
    EXPECT_EQ(Code("openFile", {throughLink}), "path_denied");
    EXPECT_FALSE(fs::exists(dir_.Join("saved.png")));
    EXPECT_EQ(Snapshot(outside), before) << "materialize, saveCopy, openFile";

    EXPECT_EQ(Code("removeThread", {Scope()}), "true");
    EXPECT_EQ(Snapshot(outside), before) << "removeThread";
    placeLink();  // a link in the thread's place is unlinked
    EXPECT_EQ(Code("clear", {JSValue{{"uid", "u1"}}}), "true");
    EXPECT_EQ(Snapshot(outside), before) << "clear of the uid";
    placeLink();
    EXPECT_EQ(Code("clear", {nullptr}), "true");
    EXPECT_EQ(Snapshot(outside), before) << "clear of everything";
    EXPECT_TRUE(fs::is_empty(root));
  }
}

TEST_F(MediaLinksTest, PruningUnlinksOldCopiesThatAreLinks) {
  const std::string root = MediaRoot();
  const std::string outside = MakeOutside("");
  const auto before = Snapshot(outside);
  const std::string cached = root + "/u1/w1/t1/" + CacheHash("w1", Url("b")) + ".png";
  EXPECT_EQ(Code("stats", {}), R"({"bytes":0,"files":0})");  // the housekeeping has run
  fs::create_directories(fs::path(cached).parent_path());
  testing::WriteTextFile(cached, kPng);
  fs::create_directories(root + "/tmp");
  for (int i = 0; i < 25; ++i) fs::create_directory_symlink(outside, root + "/tmp/old" + std::to_string(i));
  const std::string copy = CallAndWait("materialize", {cached, "copy"})->Value();
  EXPECT_EQ(fs::path(copy).filename(), "copy.png");
  size_t kept = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root + "/tmp")) ++kept;
  EXPECT_EQ(kept, kKeptCopies);
  EXPECT_EQ(Snapshot(outside), before);
}

}  // namespace
}  // namespace VirelantDesktop::media
