#include "modules/shell/shell_module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bridge/host_hooks.h"
#include "platform/folder_picker.h"
#include "tests/support/fake_react_context.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

using namespace std::chrono_literals;
using testing::FakeReactContext;
using testing::ModuleUnderTest;

// Records what would be opened; answers with `launched`.
class RecordingOpener final : public platform::DesktopOpener {
 public:
  void Open(const std::string& target, platform::OpenDone done) override {
    calls.push_back("open " + target);
    done(launched);
  }
  void ShowFile(const std::string& path, platform::OpenDone done) override {
    calls.push_back("show " + path);
    done(launched);
  }
  std::vector<std::string> calls;
  bool launched = true;
};

class ShellModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetSharedDesktopOpenerForTesting(opener_);
    shell_.Initialize(context_.Context());
  }
  void TearDown() override {
    platform::SetSharedDesktopOpenerForTesting(nullptr);
    platform::InstallFolderPicker(nullptr);
    HostHooks::Get().Install({});
    HostHooks::Get().SetVisibilityRefresher(nullptr);
    HostHooks::Get().SetVisibilityListener(nullptr);
  }
  std::shared_ptr<testing::PromiseProbe> Call(const std::string& method, const std::vector<JSValue>& args = {}) {
    auto probe = shell_.Call(method, args);
    context_.RunUIQueue();
    EXPECT_TRUE(probe->WaitSettled(2s)) << method;
    return probe;
  }
  std::string Code(const std::string& method, const std::vector<JSValue>& args) {
    return Call(method, args)->Error().code;
  }

  std::shared_ptr<RecordingOpener> opener_ = std::make_shared<RecordingOpener>();
  FakeReactContext context_{FakeReactContext::UIMode::Queued};
  ModuleUnderTest shell_{"Shell"};
  testing::TempDir dir_;
};

TEST_F(ShellModuleTest, OpenExternalChecksThenOpensOnTheUIThread) {
  auto probe = shell_.Call("openExternal", {"HTTPS://example.com/a"});
  EXPECT_TRUE(opener_->calls.empty()) << "nothing before the UI thread runs";
  context_.RunUIQueue();
  EXPECT_EQ(probe->Value(), JSValue(true));
  EXPECT_EQ(opener_->calls, std::vector<std::string>{"open HTTPS://example.com/a"});

  EXPECT_EQ(Code("openExternal", {"https://a b"}), "invalid_url");
  EXPECT_EQ(Call("openExternal", {"http://example.com"})->Error().message, "invalid_url");
  EXPECT_EQ(Code("openExternal", {42}), "invalid_url");
  EXPECT_EQ(opener_->calls.size(), 1u);
  opener_->launched = false;
  EXPECT_EQ(Code("openExternal", {"https://example.com"}), "open_failed");
}

TEST_F(ShellModuleTest, OpenFolderOpensFoldersAndShowsFiles) {
  std::filesystem::create_directories(dir_.Join("a folder"));
  testing::WriteTextFile(dir_.Join("a folder/file.txt"), "x");
  EXPECT_EQ(Call("openFolder", {dir_.Join("a folder")})->Value(), JSValue(true));
  EXPECT_EQ(Call("openFolder", {dir_.Join("a folder/file.txt")})->Value(), JSValue(true));
  EXPECT_EQ(opener_->calls, (std::vector<std::string>{"open " + dir_.Join("a folder"),
                                                      "show " + dir_.Join("a folder/file.txt")}));
  for (const JSValue& path : {JSValue(dir_.Join("missing")), JSValue(""), JSValue("relative/x"),
                              JSValue("\\\\?\\C:\\x"), JSValue(nullptr)}) {
    EXPECT_EQ(Code("openFolder", {path}), "not_found") << path.dump();
  }
  EXPECT_EQ(opener_->calls.size(), 2u);
}

TEST_F(ShellModuleTest, PickFolderResults) {
  EXPECT_EQ(Code("pickFolder", {}), "pick_failed") << "no chooser without a toolkit";
  platform::PickOutcome outcome = platform::PickOutcome::Cancelled;
  platform::InstallFolderPicker([&](platform::FolderPickDone done) { done(outcome, "/chosen"); });
  EXPECT_EQ(Call("pickFolder")->Value(), JSValue(nullptr));
  outcome = platform::PickOutcome::Chosen;
  EXPECT_EQ(Call("pickFolder")->Value(), JSValue("/chosen"));
  outcome = platform::PickOutcome::Failed;
  EXPECT_EQ(Code("pickFolder", {}), "pick_failed");
}

TEST_F(ShellModuleTest, WindowHooksAreCalledOnTheUIThreadForExactWordsOnly) {
  std::vector<std::string> calls;
  HostHookFunctions hooks;
  hooks.applyCaptionTheme = [&](bool dark) { calls.push_back(dark ? "dark" : "light"); };
  hooks.applyWindowResizable = [&](bool resizable) { calls.push_back(resizable ? "resizable" : "fixed"); };
  HostHooks::Get().Install(hooks);
  for (const char* theme : {"dark", "Dark", "light", "LIGHT", ""}) shell_.CallVoid("setCaptionTheme", {theme});
  shell_.CallVoid("setWindowResizable", {false});
  shell_.CallVoid("setWindowResizable", {true});
  EXPECT_TRUE(calls.empty());
  context_.RunUIQueue();
  EXPECT_EQ(calls, (std::vector<std::string>{"dark", "light", "fixed", "resizable"}));
}

TEST_F(ShellModuleTest, AppInfo) {
  HostHooks::Get().SetFontsLoaded(true);
  const JSValue info = Call("appInfo")->Value();
  EXPECT_EQ(info.dump(), R"({"fontsLoaded":true,"platform":"linux","version":"0.2.1"})");
  HostHooks::Get().SetFontsLoaded(false);
}

TEST_F(ShellModuleTest, VisibilityIsSentOnceAtStartAndOnEveryChange) {
  context_.RunUIQueue();
  EXPECT_TRUE(context_.Events().empty()) << "no window yet: nothing sent";
  HostHooks::Get().SetVisibilityRefresher([] { HostHooks::Get().NotifyVisibility(true); });
  ModuleUnderTest again{"Shell"};
  again.Initialize(context_.Context());
  context_.RunUIQueue();
  HostHooks::Get().NotifyVisibility(false);
  HostHooks::Get().NotifyVisibility(true);
  const auto events = context_.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].eventName, "Shell.windowVisibility");
  EXPECT_EQ(events[0].payload, (JSValue{{"visible", true}}));
  EXPECT_EQ(events[1].payload, (JSValue{{"visible", false}}));
  EXPECT_EQ(events[2].payload, (JSValue{{"visible", true}}));
}

}  // namespace
}  // namespace VirelantDesktop
