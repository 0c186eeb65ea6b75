#include "updater/updater_module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/read_file.h"
#include "tests/support/fake_react_context.h"
#include "tests/support/test_invoker.h"
#include "tests/updater/fake_backend.h"
#include "updater/restart_record.h"
#include "updater/update_grammar.h"
#include "updater/velopack_backend.h"

namespace VirelantDesktop {
namespace {

using namespace std::chrono_literals;
using testing::FakeReactContext;
using testing::ModuleUnderTest;
using updater::testing::DevKey;
using updater::testing::FakeBackend;

constexpr const char* kTrustedKeyId = "tv-desktop-2026-11";

class UpdaterModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TalvekUpdater::ResetRestartRecordForTesting();
    if (DevKey() != nullptr) backend_->Offer("package 0.2.2", *DevKey(), kTrustedKeyId);
    updater::UpdaterModuleParts parts;
    parts.makeBackend = [this] { return backend_; };
    parts.engineStop = [this] {
      backend_->Record("stop");
      return std::string("not_running");
    };
    parts.afterApply = [this] { backend_->Record("quit requested"); };
    parts.clock = [] { return *updater::ParseTimestampMs("2026-12-08T12:00:00Z"); };
    updater::SetUpdaterModulePartsForTesting(parts);
    module_.Initialize(context_.Context());
  }
  void TearDown() override {
    updater::SetUpdaterModulePartsForTesting({});
    TalvekUpdater::ResetRestartRecordForTesting();
  }
  std::shared_ptr<testing::PromiseProbe> Call(const std::string& method) {
    auto probe = module_.Call(method);
    EXPECT_TRUE(probe->WaitSettled(10s)) << method;
    return probe;
  }
  // The rejection's code, checked to be the whole rejection.
  std::string RejectionOf(const std::string& method) {
    auto probe = Call(method);
    if (!probe->IsRejected()) return "resolved";
    const PromiseError error = probe->Error();
    EXPECT_EQ(error.message, error.code);
    EXPECT_EQ(error.userInfo, JSValue(JSValueObject{}));
    return error.code;
  }

  testing::TempDir dir_;
  std::shared_ptr<FakeBackend> backend_ = std::make_shared<FakeBackend>(dir_.Join("install/packages"));
  FakeReactContext context_;
  ModuleUnderTest module_{"Updater"};
};

TEST_F(UpdaterModuleTest, ChannelConstantComesFromTheMarkerInTheImage) {
  EXPECT_EQ(module_.Constants().at("channel"), JSValue("production"));
  const auto image = platform::ReadWholeFile("/proc/self/exe");
  EXPECT_NE(image.data.find("TALVEKCHANNEL1=production"), std::string::npos);
}

TEST_F(UpdaterModuleTest, CheckDownloadApplyRoundTrip) {
  if (DevKey() == nullptr) GTEST_SKIP() << "built with a configured trusted key";
  backend_->assets["pause.json"] = "{\"until\":null}";
  auto check = Call("check");
  ASSERT_TRUE(check->IsResolved()) << check->Error().code;
  const JSValue result = check->Value();
  EXPECT_EQ(result["nativeKeyId"], kTrustedKeyId);
  EXPECT_EQ(result["sig"], backend_->assets["manifest.sig"]);
  EXPECT_EQ(result["feed"]["version"], "0.2.2");
  EXPECT_EQ(result["feed"]["deltas"], JSValue::array());
  EXPECT_EQ(result["pauseJson"], "{\"until\":null}");
  EXPECT_TRUE(result["manifestB64"].is_string());
  // The issued-at record lives beside the packages folder.
  EXPECT_TRUE(std::filesystem::exists(dir_.Join("install/talvek-issuedat.production.txt")));

  auto download = Call("download");
  ASSERT_TRUE(download->IsResolved()) << download->Error().code;
  EXPECT_EQ(download->Value(), JSValue({{"fullSha256", updater::testing::HexOf("package 0.2.2")}}));
  ASSERT_TRUE(context_.WaitForEvents(3));
  const auto events = context_.Events();
  EXPECT_EQ(events[0].emitterName, "RCTDeviceEventEmitter");
  EXPECT_EQ(events[0].eventName, "Updater.progress");
  EXPECT_EQ(events[2].payload, JSValue({{"pct", 100}}));

  auto apply = Call("apply");
  EXPECT_EQ(apply->Value(), JSValue(nullptr));
  const auto calls = backend_->Calls();
  const std::vector<std::string> tail(calls.end() - 3, calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"stop", "apply 0.2.2 talvek-0.2.2-full.nupkg", "quit requested"}));
}

TEST_F(UpdaterModuleTest, FailuresRejectWithTheirStage) {
  EXPECT_EQ(RejectionOf("download"), "check") << "download before check";
  backend_->feed.updateAvailable = false;
  EXPECT_EQ(Call("check")->Value(), JSValue(nullptr));
  EXPECT_EQ(RejectionOf("download"), "check") << "after a check that found nothing";
  EXPECT_EQ(RejectionOf("apply"), "verify") << "no gate record";
  EXPECT_EQ(Call("discard")->Value(), JSValue(nullptr));

  backend_->feed.updateAvailable = true;
  backend_->checkFails = true;
  EXPECT_EQ(RejectionOf("check"), "check") << "a library error";
  backend_->checkFails = false;
  if (DevKey() == nullptr) return;
  updater::testing::ManifestFields older;
  older.version = "0.2.0";
  backend_->Offer("package 0.2.0", *DevKey(), kTrustedKeyId, older);
  EXPECT_EQ(RejectionOf("check"), "verify");
}

TEST_F(UpdaterModuleTest, ReadPauseNeverRejects) {
  EXPECT_EQ(Call("readPause")->Value(), JSValue(nullptr));
  backend_->assets["pause.json"] = "{}";
  EXPECT_EQ(Call("readPause")->Value(), JSValue("{}"));
  backend_->assetsThrow = true;
  EXPECT_EQ(Call("readPause")->Value(), JSValue(nullptr));
}

TEST_F(UpdaterModuleTest, RestartDetectedReportsTheHooksVersionOrTheRunningOne) {
  EXPECT_EQ(Call("restartDetected")->Value(), JSValue({{"restarted", false}, {"version", "0.2.1"}}));
  TalvekUpdater::RecordRestart("0.2.2");
  EXPECT_EQ(Call("restartDetected")->Value(), JSValue({{"restarted", true}, {"version", "0.2.2"}}));
  TalvekUpdater::RecordRestart(nullptr);
  EXPECT_EQ(Call("restartDetected")->Value(), JSValue({{"restarted", true}, {"version", "0.2.1"}}));
}

TEST_F(UpdaterModuleTest, WithoutTheClientLibraryUpdatesFailButNothingElse) {
  updater::UpdaterModuleParts parts;
  parts.makeBackend = [] {
    return std::make_shared<TalvekUpdater::VelopackBackend>(TalvekUpdater::VelopackBackend::Options{});
  };
  updater::SetUpdaterModulePartsForTesting(parts);
  ModuleUnderTest module("Updater");
  auto check = module.Call("check");
  ASSERT_TRUE(check->WaitSettled(10s));
  EXPECT_EQ(check->Error().code, "check");
  auto restart = module.Call("restartDetected");
  EXPECT_EQ(restart->Value(), JSValue({{"restarted", false}, {"version", ""}}));
  auto pause = module.Call("readPause");
  ASSERT_TRUE(pause->WaitSettled(10s));
  EXPECT_EQ(pause->Value(), JSValue(nullptr));
}

}  // namespace
}  // namespace VirelantDesktop
