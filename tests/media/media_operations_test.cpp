// The Media module's operations on cached files: look-up, removal, the size
// report, and the ways a file leaves the cache.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "modules/media/cache_scope.h"
#include "modules/media/media_module.h"
#include "platform/confined_tree.h"
#include "platform/save_dialog.h"
#include "tests/media/media_test_fixture.h"

namespace VirelantDesktop::media {
namespace {

namespace fs = std::filesystem;

using VirelantDesktop::testing::ReadTextFile;

class RecordingOpener final : public platform::DesktopOpener {
 public:
  void Open(const std::string& target, platform::OpenDone done) override {
    calls.push_back("open " + target);
    done(true);
  }
  void ShowFile(const std::string& path, platform::OpenDone done) override {
    calls.push_back("show " + path);
    done(true);
  }
  std::vector<std::string> calls;
};

class MediaOperationsTest : public MediaModuleTest {
 protected:
  void SetUp() override {
    MediaModuleTest::SetUp();
    platform::SetSharedDesktopOpenerForTesting(opener_);
  }
  void TearDown() override {
    platform::SetSharedDesktopOpenerForTesting(nullptr);
    platform::InstallSaveDialog(nullptr);
    MediaModuleTest::TearDown();
  }

  // A cached file of `name` as a finished download leaves it.
  std::string Cached(const std::string& name, const std::string& ext, const std::string& content = "cached") {
    const std::string folder = MediaRoot() + "/u1/w1/t1";
    fs::create_directories(folder);
    const std::string path = folder + "/" + CacheHash("w1", Url(name)) + "." + ext;
    std::ofstream(path) << content;
    platform::SetOriginUrl(path, Url(name));
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    return path;
  }
  std::string Code(const std::string& method, const std::vector<JSValue>& args) {
    auto probe = CallAndWait(method, args);
    return probe->IsRejected() ? probe->Error().code : probe->Value().dump();
  }

  std::shared_ptr<RecordingOpener> opener_ = std::make_shared<RecordingOpener>();
};

TEST_F(MediaOperationsTest, PeekFindsTouchesOnceAMinuteAndLeavesAnEmptyScope) {
  EXPECT_EQ(CallAndWait("peek", {Scope("fresh"), Url("never")})->Value(), nullptr);
  EXPECT_TRUE(fs::is_directory(MediaRoot() + "/u1/w1/fresh")) << "the scope folder is made";
  EXPECT_EQ(Code("peek", {Scope(), "http://app.talvek.chat/api/storage/a"}), "invalid_request");

  const std::string path = Cached("photo", "jpg", "12345");
  const auto old = fs::last_write_time(path) - std::chrono::minutes(5);
  fs::last_write_time(path, old);
  const JSValue found = CallAndWait("peek", {Scope(), Url("photo")})->Value();
  EXPECT_EQ(found, (JSValue{{"path", path}, {"bytes", 5}, {"mime", "image/jpeg"}}));
  const auto touched = fs::last_write_time(path);
  EXPECT_GT(touched, old + std::chrono::minutes(4));
  CallAndWait("peek", {Scope(), Url("photo")});
  EXPECT_EQ(fs::last_write_time(path), touched) << "within a minute: not touched again";
}

TEST_F(MediaOperationsTest, RemoveStatsAndClear) {
  Cached("a", "png", "aa");
  const std::string b = Cached("b", "pdf", "bbbb");
  std::ofstream(MediaRoot() + "/u1/w1/t1/" + CacheHash("w1", Url("a")) + ".part") << "partial";
  EXPECT_EQ(CallAndWait("stats", {})->Value(), (JSValue{{"bytes", 6}, {"files", 2}})) << "no .part counted";
  EXPECT_EQ(CallAndWait("remove", {Scope(), Url("a")})->Value(), true);
  EXPECT_EQ(ScopeFiles(), std::vector<std::string>{fs::path(b).filename()}) << "the file and its .part";
  EXPECT_EQ(Code("remove", {JSValue("nope"), Url("a")}), "invalid_request");

  EXPECT_EQ(CallAndWait("removeThread", {Scope()})->Value(), true);
  EXPECT_FALSE(fs::exists(MediaRoot() + "/u1/w1/t1"));

  Cached("c", "png");
  fs::create_directories(MediaRoot() + "/u2/w/t");
  EXPECT_EQ(CallAndWait("clear", {JSValue{{"uid", "u1"}}})->Value(), true);
  EXPECT_FALSE(fs::exists(MediaRoot() + "/u1"));
  EXPECT_TRUE(fs::exists(MediaRoot() + "/u2")) << "a uid clear keeps the other users";
  EXPECT_EQ(CallAndWait("clear", {nullptr})->Value(), true);
  EXPECT_TRUE(fs::is_empty(MediaRoot())) << "everything below the root, not the root";
}

TEST_F(MediaOperationsTest, MaterializeNamesGuardsAndPrunes) {
  const std::string pdf = Cached("report", "pdf");
  const JSValue copy = CallAndWait("materialize", {pdf, "report"})->Value();
  const fs::path copyPath = copy.get<std::string>();
  EXPECT_EQ(copyPath.filename(), "report.pdf");
  EXPECT_EQ(copyPath.parent_path().parent_path(), MediaRoot() + "/tmp");
  EXPECT_EQ(copyPath.parent_path().filename().string().size(), 36u);
  EXPECT_EQ(fs::status(copyPath).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(platform::OriginUrl(copyPath), Url("report")) << "the copy is marked with its origin";

  fs::create_directories(MediaRoot() + "/up/x");
  std::ofstream(MediaRoot() + "/up/x/staged.png") << "s";
  const std::string outside = dir_.Join("outside.png");
  std::ofstream(outside) << "o";
  fs::create_symlink(pdf, MediaRoot() + "/u1/w1/t1/link.pdf");
  for (const std::string& path : {outside, MediaRoot() + "/u1/w1/t1/../t1/" + fs::path(pdf).filename().string(),
                                  MediaRoot() + "/up/x/staged.png", MediaRoot() + "/u1/w1/t1",
                                  MediaRoot() + "/u1/w1/t1/link.pdf", std::string("relative.pdf")}) {
    EXPECT_EQ(Code("materialize", {path, "x"}), "path_denied") << path;
  }

  for (int i = 0; i < 21; ++i) CallAndWait("materialize", {pdf, "n" + std::to_string(i)});
  size_t kept = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(MediaRoot() + "/tmp")) ++kept;
  EXPECT_EQ(kept, 20u);
}

TEST_F(MediaOperationsTest, OnlyMaterialisedCopiesOfKnownTypesOpen) {
  const std::string pdf = Cached("doc", "pdf");
  EXPECT_EQ(Code("openFile", {pdf}), "path_denied") << "the cached file itself";
  const std::string exe = CallAndWait("materialize", {pdf, "tool.exe"})->Value();
  EXPECT_EQ(Code("openFile", {exe}), "blocked_type");
  const std::string copy = CallAndWait("materialize", {pdf, "Doc.PDF"})->Value();
  EXPECT_EQ(Code("openFile", {copy}), "true");
  EXPECT_EQ(opener_->calls, std::vector<std::string>{"open " + copy});
}

TEST_F(MediaOperationsTest, SaveCopyWithAndWithoutADialogAndRevealAfterwards) {
  const std::string png = Cached("pic", "png", "new picture");
  EXPECT_EQ(Code("saveCopy", {png, "pic"}), "save_failed") << "no dialog in a headless run";

  const std::string destination = dir_.Join("Pictures/pic.png");
  fs::create_directories(dir_.Join("Pictures"));
  std::ofstream(destination) << "old picture";
  EXPECT_EQ(Code("revealInFolder", {destination}), "path_denied") << "not saved in this run";

  std::string suggested;
  bool removeSourceFirst = false;
  platform::InstallSaveDialog([&](const std::string& name, platform::SaveDialogDone done) {
    suggested = name;
    if (removeSourceFirst) fs::remove(png);
    done(name == "cancel.png" ? platform::PickOutcome::Cancelled : platform::PickOutcome::Chosen, destination);
  });
  EXPECT_EQ(Code("saveCopy", {png, "cancel"}), "null");
  EXPECT_EQ(Code("saveCopy", {png, "pic"}), JSValue(destination).dump());
  EXPECT_EQ(suggested, "pic.png");
  EXPECT_EQ(ReadTextFile(destination), "new picture");
  EXPECT_TRUE(fs::status(destination).permissions() != fs::perms::none &&
              (fs::status(destination).permissions() & fs::perms::owner_write) != fs::perms::none);
  EXPECT_EQ(Code("revealInFolder", {destination}), "true");
  EXPECT_EQ(opener_->calls, std::vector<std::string>{"show " + destination});

  std::ofstream(destination) << "kept";
  removeSourceFirst = true;
  EXPECT_EQ(Code("saveCopy", {png, "pic"}), "save_failed");
  EXPECT_EQ(ReadTextFile(destination), "kept") << "a failed copy leaves the chosen file as it was";
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_.Join("Pictures"))) ++entries;
  EXPECT_EQ(entries, 1u) << "no half-written file beside it";
}

}  // namespace
}  // namespace VirelantDesktop::media
