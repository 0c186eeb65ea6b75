#include "updater/velopack_backend.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "updater/restart_record.h"
#include "updater/startup_hooks.h"

namespace TalvekUpdater {
namespace {

constexpr const char* kFeed = "https://updates.talvek.chat/talvek-desktop/production/linux-x64/";

class VelopackBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_) << TALVEK_FAKE_UPDATE_CLIENT;
    library_->Function<void (*)()>("fake_tuc_reset")();
  }
  void Set(const std::string& key, const std::string& value) const {
    library_->Function<void (*)(const char*, const char*)>("fake_tuc_set")(key.c_str(), value.c_str());
  }
  std::string Get(const std::string& key) const {
    return library_->Function<const char* (*)(const char*)>("fake_tuc_get")(key.c_str());
  }
  std::unique_ptr<VelopackBackend> Make(std::shared_ptr<const UpdateClientLibrary> library) {
    VelopackBackend::Options options{kFeed, nullptr, nullptr, std::move(library)};
    options.fetchAsset = [this](const std::string& name, const std::string& feed) -> std::optional<std::string> {
      fetched_.push_back(name + " from " + feed);
      if (name == "boom") throw std::runtime_error("fetcher failed");
      return name == "manifest.json" ? std::optional<std::string>("{}") : std::nullopt;
    };
    options.packageDir = [](const std::string& appId) { return "/installs/" + appId + "/packages"; };
    return std::make_unique<VelopackBackend>(std::move(options));
  }
  // What `call` throws: "stage/code" of an UpdaterFail, else the message.
  static std::string Failure(const std::function<void()>& call) {
    try {
      call();
    } catch (const UpdaterFail& failure) {
      return failure.stage + "/" + failure.code;
    } catch (const std::runtime_error& error) {
      return error.what();
    }
    return "";
  }

  std::shared_ptr<const UpdateClientLibrary> library_ = UpdateClientLibrary::Load(TALVEK_FAKE_UPDATE_CLIENT);
  std::vector<std::string> fetched_;
};

TEST_F(VelopackBackendTest, AMissingLibraryFailsTheCallsWithoutEndingTheProcess) {
  EXPECT_FALSE(UpdateClientLibrary::Load("/nonexistent/libtalvek-update.so"));
  EXPECT_FALSE(UpdateClientLibrary::Load("libtalvek-update.so")) << "never through the library search";
  auto backend = Make(nullptr);
  EXPECT_EQ(Failure([&] { backend->CheckFeed(); }), "check/velopack_missing");
  EXPECT_EQ(Failure([&] { backend->PackagesDir(); }), "check/velopack_missing");
  EXPECT_EQ(Failure([&] { backend->DownloadFull([](int) {}); }), "download/");
  EXPECT_EQ(backend->CurrentVersion(), "");
  EXPECT_FALSE(backend->PendingRestart());
  EXPECT_EQ(backend->ReadAsset("manifest.json"), "{}") << "assets do not need the library";
}

TEST_F(VelopackBackendTest, OneManagerWithDowngradesAndDeltasOff) {
  auto backend = Make(library_);
  EXPECT_EQ(backend->CurrentVersion(), "0.2.1");
  EXPECT_EQ(backend->PackagesDir(), "/installs/talvek/packages");
  EXPECT_FALSE(backend->CheckFeed().updateAvailable);
  EXPECT_EQ(Get("new.count"), "1");
  EXPECT_EQ(Get("new.call"), std::string(kFeed) + " downgrade=0 channel=<null> deltas=-1 locator=<null>");
  Set("new.fail", "1");
  EXPECT_EQ(Failure([&] { Make(library_)->CheckFeed(); }), "cannot open the feed");
}

TEST_F(VelopackBackendTest, CheckKeepsOnlyTheFullReleaseAndDownloadsIt) {
  Set("check.result", "0");
  Set("check.deltas", "2");
  auto backend = Make(library_);
  const FeedCheck feed = backend->CheckFeed();
  ASSERT_TRUE(feed.updateAvailable);
  EXPECT_EQ(feed.targetFull.version + " " + feed.targetFull.fileName + " " + feed.targetFull.sha256 + " " +
                feed.targetFull.type + " " + std::to_string(feed.targetFull.size),
            "0.2.2 talvek-0.2.2-full.nupkg bb Full 1000");
  EXPECT_TRUE(feed.deltas.empty());

  std::vector<int> progress;
  backend->DownloadFull([&](int pct) { progress.push_back(pct); });
  EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(Get("download.call"), "0.2.2 deltas=0") << "a feed with deltas still gets the full package";
  Set("download.ok", "0");
  EXPECT_EQ(Failure([&] { backend->DownloadFull([](int) { throw std::runtime_error("listener"); }); }), "download/");
}

TEST_F(VelopackBackendTest, CheckFailuresCarryTheLibrarysTextOrTheMissingProperty) {
  auto backend = Make(library_);
  Set("check.result", "255");
  EXPECT_EQ(Failure([&] { backend->CheckFeed(); }), "feed answered 500");
  Set("check.result", "0");
  for (const char* field :
       {"PackageId", "Version", "Type", "FileName", "SHA1", "SHA256", "NotesMarkdown", "NotesHtml"}) {
    Set("target.null", field);
    EXPECT_EQ(Failure([&] { backend->CheckFeed(); }), std::string("Required property ") + field + " was null");
  }
  Set("check.no_target", "1");
  EXPECT_EQ(Failure([&] { backend->CheckFeed(); }), "Required property TargetFullRelease was null");
  Set("check.no_info", "1");
  EXPECT_EQ(Failure([&] { backend->CheckFeed(); }), "Expected value not present");
  EXPECT_EQ(Failure([&] { backend->DownloadFull([](int) {}); }), "download/") << "nothing of a failed check is kept";
}

TEST_F(VelopackBackendTest, ApplyHandsOverOnlyTheUpdateReportedAsPending) {
  auto backend = Make(library_);
  const auto apply = [&](const char* version, const char* file) {
    return Failure([&] { backend->ApplyPending(version, file); });
  };
  EXPECT_FALSE(backend->PendingRestart());
  EXPECT_EQ(apply("0.2.2", "talvek-0.2.2-full.nupkg"), "apply/");
  Set("pending", "1");
  ASSERT_EQ(backend->PendingRestart().value_or(FeedRelease{}).version, "0.2.2");
  EXPECT_EQ(apply("0.2.3", "talvek-0.2.2-full.nupkg"), "apply/");
  EXPECT_EQ(apply("0.2.2", "other.nupkg"), "apply/");
  EXPECT_EQ(apply("0.2.2", "talvek-0.2.2-full.nupkg"), "");
  EXPECT_EQ(Get("apply.call"), "0.2.2 silent restart args=0");
  Set("apply.ok", "0");
  EXPECT_EQ(apply("0.2.2", "talvek-0.2.2-full.nupkg"), "apply helper missing");
  Set("pending.null", "SHA1");
  EXPECT_FALSE(backend->PendingRestart());
  EXPECT_EQ(apply("0.2.2", "talvek-0.2.2-full.nupkg"), "apply/") << "an unreadable report forgets the earlier one";
}

TEST_F(VelopackBackendTest, AssetsComeFromTheFeedAndFailuresAreAbsent) {
  auto backend = Make(library_);
  EXPECT_EQ(backend->ReadAsset("manifest.json"), "{}");
  EXPECT_EQ(backend->ReadAsset("pause.json"), std::nullopt);
  EXPECT_EQ(backend->ReadAsset("boom"), std::nullopt);
  EXPECT_EQ(fetched_.front(), std::string("manifest.json from ") + kFeed);
  EXPECT_EQ(VelopackBackend({kFeed, nullptr, nullptr, library_}).ReadAsset("manifest.json"), std::nullopt);
  const auto exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(InstalledPackagesDir("any"), (exe.parent_path().parent_path() / "packages").string());
}

TEST_F(VelopackBackendTest, StartupHooksRecordTheRestartAndReachTheUninstallTarget) {
  static int uninstalls = 0;
  ResetRestartRecordForTesting();
  Set("run.restarted", "0.2.2");
  Set("run.uninstall", "1");
  ASSERT_TRUE(RunClientStartupHooks(*library_, [] { ++uninstalls; }));
  EXPECT_EQ(Get("run.auto_apply"), "off");
  for (const char* hook : {"hook.after_install", "hook.before_update", "hook.after_update", "hook.first_run"}) {
    EXPECT_EQ(Get(hook), "set") << hook;
  }
  EXPECT_EQ(uninstalls, 1);
  EXPECT_TRUE(ReadRestartRecord().restarted);
  EXPECT_EQ(ReadRestartRecord().version, "0.2.2");
  Set("run.restarted", "<null>");
  RunClientStartupHooks(*library_, nullptr);
  EXPECT_EQ(ReadRestartRecord().version, "");
  ResetRestartRecordForTesting();
}

}  // namespace
}  // namespace TalvekUpdater
