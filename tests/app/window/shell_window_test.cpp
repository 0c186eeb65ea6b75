#include "app/window/shell_window.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/headless_window.h"

namespace VirelantDesktop::window {
namespace {

struct Record {
  std::mutex mutex;  // guards lines (the quit worker writes from its thread)
  std::vector<std::string> lines;
  void Add(std::string line) {
    std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
  }
  bool Has(const std::string& line) {
    std::lock_guard lock(mutex);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

class FakeTray final : public platform::Tray {
 public:
  explicit FakeTray(Record& record) : record_(record) {}
  bool Add() override {
    record_.Add("tray+");
    return true;
  }
  void Remove() override { record_.Add("tray-"); }

 private:
  Record& record_;
};

class FakeSession final : public platform::SessionMonitor {
 public:
  bool Register() override { return registered_ = succeed; }
  void Unregister() override { registered_ = false; }
  bool IsRegistered() const override { return registered_; }
  bool succeed = false;

 private:
  bool registered_ = false;
};

class ShellWindowTest : public ::testing::Test {
 protected:
  ShellWindowTest() {
    ShellWindowDeps deps;
    deps.state = &state_;
    deps.hooks = &hooks_;
    deps.makeWindow = [this](platform::MainWindowEvents events) {
      auto window = std::make_unique<platform::HeadlessWindow>(std::move(events));
      window->SetFrameExtra({10, 30});  // the first size then moves the window
      headless_ = window.get();
      return window;
    };
    deps.makeTray = [this](platform::TrayOptions options, platform::TrayEvents events) {
      trayOptions_ = options;
      trayEvents_ = events;
      return std::make_unique<FakeTray>(record_);
    };
    deps.makeSessionMonitor = [this](platform::SessionEvents events) {
      sessionEvents_ = events;
      auto session = std::make_unique<FakeSession>();
      session_ = session.get();
      return session;
    };
    deps.stopSignIn = [this] { record_.Add("stop-sign-in"); };
    deps.purgeEmbedProfile = [this](int ms) { record_.Add("purge " + std::to_string(ms)); };
    deps.shutdownEngine = [this] { record_.Add("engine"); };
    deps.releaseInstanceLock = [this] { record_.Add("lock"); };
    deps.sendVisibility = [this](bool visible) { record_.Add(visible ? "visible" : "hidden"); };
    deps.endLoop = [this] { record_.Add("end-loop"); };
    deps.debugOutput = [this](const char* text) { record_.Add(text); };
    deps.sleep = [](int) {};
    deps.exitProcess = [this](int code) { exitCode_ = code; };
    window_ = std::make_unique<ShellWindow>(std::move(deps));
  }

  // Runs the UI loop until `done` or two seconds passed.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  HostState state_;
  HostHooks hooks_;
  Record record_;
  platform::HeadlessWindow* headless_ = nullptr;
  FakeSession* session_ = nullptr;
  platform::TrayOptions trayOptions_;
  platform::TrayEvents trayEvents_;
  platform::SessionEvents sessionEvents_;
  std::atomic<int> exitCode_{-1};
  std::unique_ptr<ShellWindow> window_;
};

TEST_F(ShellWindowTest, PrepareSetsUpWindowHooksTrayAndSession) {
  window_->Prepare();
  EXPECT_EQ(headless_->Title(), "TALVEK");
  EXPECT_EQ(state_.MainWindow(), headless_);
  EXPECT_EQ(trayOptions_.title, "TALVEK");
  ASSERT_EQ(trayOptions_.menu.size(), 2u);
  EXPECT_EQ(trayOptions_.menu[0].label, "Open TALVEK");
  EXPECT_EQ(trayOptions_.menu[1].command, kCommandQuit);
  EXPECT_TRUE(record_.Has("tray+"));
  EXPECT_TRUE(record_.Has(kSessionRegistrationFailed));
  EXPECT_FALSE(record_.Has(kSessionRegistrationRetryFailed)) << "one attempt before the window's events count";
  EXPECT_TRUE(headless_->Limits());

  // Retried after the window moves; the second failure says so.
  headless_->SetWindowRect({5, 5, 430, 932});
  EXPECT_TRUE(record_.Has(kSessionRegistrationRetryFailed));
  session_->succeed = true;
  headless_->SetWindowRect({6, 6, 430, 932});
  EXPECT_TRUE(session_->IsRegistered());

  // No custom title bar on this window: no caption hook.
  EXPECT_FALSE(hooks_.CallApplyCaptionTheme(true));
  EXPECT_TRUE(hooks_.CallApplyWindowResizable(false));
  EXPECT_FALSE(headless_->IsResizable());
}

TEST_F(ShellWindowTest, CloseHidesAndHandOverAndShowHookBringItBack) {
  window_->Prepare();
  window_->Show();
  EXPECT_TRUE(record_.Has("visible"));
  EXPECT_TRUE(headless_->RequestClose());
  EXPECT_FALSE(headless_->IsVisible());
  EXPECT_FALSE(headless_->IsDestroyed());

  window_->HandOver("talvek --x");
  ASSERT_TRUE(PumpUntil([&] { return headless_->IsVisible(); }));
  headless_->Hide();
  std::thread([&] { hooks_.CallShowMainWindow(); }).join();
  ASSERT_TRUE(PumpUntil([&] { return headless_->IsVisible(); }));
  EXPECT_EQ(headless_->Activations(), 2);

  sessionEvents_.lockChanged(true);
  EXPECT_TRUE(record_.Has("hidden"));
}

TEST_F(ShellWindowTest, RequestQuitFromAnyThreadRunsTheQuitSequenceOnce) {
  window_->Prepare();
  window_->Show();
  std::thread([&] {
    hooks_.CallRequestQuit();
    hooks_.CallRequestQuit();
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return headless_->IsDestroyed() && exitCode_ == 0; }));
  EXPECT_TRUE(state_.IsQuitting());
  std::lock_guard lock(record_.mutex);
  const std::vector<std::string> expected{"stop-sign-in", "tray-", "engine", "lock", "purge 2500", "purge 1500", "end-loop"};
  std::vector<std::string> got;
  for (const auto& line : record_.lines) {
    if (std::find(expected.begin(), expected.end(), line) != expected.end()) got.push_back(line);
  }
  EXPECT_EQ(got, expected) << "quit once: sign-in, tray, engine, lock, close purge, destroy purge, loop";
}

TEST_F(ShellWindowTest, EndOfSessionPurgesQuicklyAndEndsTheLoop) {
  window_->Prepare();
  sessionEvents_.endOfSession();
  EXPECT_TRUE(state_.IsQuitting());
  EXPECT_TRUE(record_.Has("purge 500"));
  EXPECT_TRUE(record_.Has("end-loop"));
  EXPECT_FALSE(headless_->RequestClose()) << "a quitting window may close";
  EXPECT_TRUE(headless_->IsDestroyed());
}

TEST_F(ShellWindowTest, TrayQuitWhileTheLoopIsGoneDoesNotTouchTheWindow) {
  window_->Prepare();
  trayEvents_.command(kCommandQuit);
  window_.reset();  // the loop ended before the worker's close arrived
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (exitCode_ != 0 && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(exitCode_, 0) << "the forced exit still comes";
  EXPECT_FALSE(hooks_.CallRequestQuit()) << "hooks are gone with the window";
}

}  // namespace
}  // namespace VirelantDesktop::window
