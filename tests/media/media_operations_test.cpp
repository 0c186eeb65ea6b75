// The Media module's operations on cached files: look-up, removal, the size
// report, and the ways a file leaves the cache.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "modules/media/cache_scope.h"
#include "modules/media/media_module.h"
#include "modules/media/media_operations.h"
#include "platform/confined_tree.h"
#include "platform/save_dialog.h"
#include "tests/media/media_test_fixture.h"
#include "tests/support/umask_guard.h"
#include "tests/support/unprivileged.h"

namespace VirelantDesktop::media {
namespace {

namespace fs = std::filesystem;

using VirelantDesktop::testing::ReadTextFile;

const std::string kHangul = "\xED\x95\x9C";  // one syllable, three bytes

std::string Repeat(const std::string& text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Whether this file system keeps user attributes at all (as root).
bool UserAttributesWork(const std::string& folder) {
  const std::string probe = folder + "/xattr-probe";
  testing::WriteTextFile(probe, "x");
  platform::SetOriginUrl(probe, "https://probe");
  const bool works = platform::OriginUrl(probe) == "https://probe";
  fs::remove(probe);
  return works;
}

using testing::UmaskGuard;

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

// Linux allows 255 bytes in a name: the extension added to a cut name and the
// temporary name of a save must stay within it.
TEST_F(MediaOperationsTest, LongNamesFitWithTheirExtension) {
  const std::string pdf = Cached("long", "pdf", "long one");
  const auto copy = CallAndWait("materialize", {pdf, Repeat(kHangul, 100)});
  ASSERT_TRUE(copy->IsResolved()) << copy->Error().code;
  const std::string copyName = fs::path(copy->Value().get<std::string>()).filename();
  EXPECT_EQ(copyName, Repeat(kHangul, 83) + ".pdf");
  EXPECT_EQ(ReadTextFile(copy->Value().get<std::string>()), "long one");

  fs::create_directories(dir_.Join("Pictures"));
  const std::string destination = dir_.Join("Pictures/" + std::string(246, 'n') + ".pdf");  // a 250-byte name
  platform::InstallSaveDialog([&](const std::string&, platform::SaveDialogDone done) {
    done(platform::PickOutcome::Chosen, destination);
  });
  EXPECT_EQ(Code("saveCopy", {pdf, "long"}), JSValue(destination).dump());
  EXPECT_EQ(ReadTextFile(destination), "long one");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_.Join("Pictures"))) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file left beside it";
}

TEST_F(MediaOperationsTest, SavedCopiesTakeTheModeOfANewFile) {
  const std::string png = Cached("mode", "png", "picture");
  const std::string destination = dir_.Join("saved.png");
  platform::InstallSaveDialog([&](const std::string&, platform::SaveDialogDone done) {
    done(platform::PickOutcome::Chosen, destination);
  });
  const bool marks = UserAttributesWork(dir_.path());
  for (const auto& [mask, expected] : {std::pair<mode_t, mode_t>{022, 0644}, {027, 0640}, {077, 0600}, {0277, 0400}}) {
    SCOPED_TRACE(::testing::Message() << "umask " << std::oct << mask);
    UmaskGuard guard(mask);
    EXPECT_EQ(Code("saveCopy", {png, "mode"}), JSValue(destination).dump());
    EXPECT_EQ(ModeOf(destination), expected);
    if (marks) {
      EXPECT_EQ(platform::OriginUrl(destination), Url("mode"));
    }
  }
}

// The cached file is read-only; its copies must still carry their origin when
// an ordinary user makes them (the owner cannot mark a read-only file).
TEST_F(MediaOperationsTest, CopiesAreMarkedWithTheirOriginForAnOrdinaryUser) {
  if (!UserAttributesWork(dir_.path())) GTEST_SKIP() << "this file system keeps no user attributes, even for root";
  const std::string home = dir_.Join("user");
  fs::create_directories(home + "/Pictures");
  testing::HandToUnprivilegedUser(home);
  const std::string outcome = testing::RunUnprivileged([&]() -> std::string {
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    ResetMediaRootForTesting();
    const std::string cached = Cached("marked", "png", "picture");
    if (platform::OriginUrl(cached) != Url("marked")) return "the cached file carries no origin";
    State state;
    const CopyOutcome copy = Materialize(state, cached, "copy");
    if (copy.code) return std::string("materialize: ") + copy.code;
    if (platform::OriginUrl(copy.path) != Url("marked")) return "the materialised copy carries no origin";
    if (ModeOf(copy.path) != 0444) return "the materialised copy is not read-only";
    const std::string saved = home + "/Pictures/saved.png";
    if (!SaveCopyTo(state, cached, saved)) return "saveCopy failed";
    if (platform::OriginUrl(saved) != Url("marked")) return "the saved copy carries no origin";
    return {};
  });
  EXPECT_EQ(outcome, "");
}

}  // namespace
}  // namespace VirelantDesktop::media
