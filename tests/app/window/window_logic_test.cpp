#include "app/window/window_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace VirelantDesktop::window {
namespace {

// Records what the logic asks for, one line per request.
class FakePort : public WindowPort {
 public:
  void ShowAndActivate() override { calls.push_back("show"); }
  void Hide() override { calls.push_back("hide"); }
  void Close() override { calls.push_back("close"); }
  bool AddTrayIcon() override {
    calls.push_back("tray+");
    return trayAddSucceeds;
  }
  void RemoveTrayIcon() override { calls.push_back("tray-"); }
  void ShowTrayMenu() override { calls.push_back("menu"); }
  void SendVisibility(bool visible) override { calls.push_back(visible ? "visible" : "hidden"); }
  void StopSignIn() override { calls.push_back("stop-sign-in"); }
  void PurgeEmbedProfile(int budgetMs) override { calls.push_back("purge " + std::to_string(budgetMs)); }
  void StartQuitWorker() override { calls.push_back("quit-worker"); }

  std::vector<std::string> Take() { return std::exchange(calls, {}); }

  std::vector<std::string> calls;
  bool trayAddSucceeds = true;
};

using Calls = std::vector<std::string>;

class WindowLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logic_.OnStart();
    logic_.OnShown(true);
    port_.Take();
  }
  FakePort port_;
  HostState state_;
  WindowLogic logic_{port_, state_};
};

TEST_F(WindowLogicTest, CloseOnlyHidesAndTheTrayBringsItBack) {
  EXPECT_TRUE(logic_.OnCloseRequested());
  logic_.OnShown(false);
  EXPECT_EQ(port_.Take(), (Calls{"hide", "hidden"}));
  EXPECT_TRUE(logic_.TrayIconPresent());
  logic_.OnCommand(kCommandOpen);
  logic_.OnShown(true);
  logic_.OnTrayActivated();
  EXPECT_EQ(port_.Take(), (Calls{"show", "visible", "show"}));
}

TEST_F(WindowLogicTest, QuitRunsOnceFromMenuAndHook) {
  logic_.OnCommand(kCommandQuit);
  logic_.OnCommand(kCommandQuit);  // RequestQuit posting the same command
  EXPECT_EQ(port_.Take(), (Calls{"stop-sign-in", "hide", "tray-", "quit-worker"}));
  EXPECT_TRUE(state_.IsQuitting());
  EXPECT_FALSE(logic_.OnCloseRequested()) << "while quitting the window may close";
  logic_.OnCommand(kCommandOpen);
  EXPECT_TRUE(port_.Take().empty()) << "no reopening while quitting";
  logic_.OnCloseAfterQuit();
  EXPECT_EQ(port_.Take(), (Calls{"purge 2500", "close"})) << "the tray icon is already gone";
}

TEST_F(WindowLogicTest, VisibilityFollowsLockAndMinimise) {
  logic_.OnSessionLocked(true);
  logic_.OnSessionLocked(false);
  logic_.OnMinimized(true);
  logic_.OnMinimized(true);  // no change, nothing sent
  logic_.OnMinimized(false);
  logic_.OnSessionDisconnected(true);
  logic_.OnSessionLocked(true);
  logic_.OnSessionDisconnected(false);  // still locked
  logic_.OnSessionLocked(false);
  EXPECT_EQ(port_.Take(), (Calls{"hidden", "visible", "hidden", "visible", "hidden", "visible"}));
}

TEST_F(WindowLogicTest, TrayComesBackWhenTheTrayHostReappearsUnlessQuitting) {
  logic_.OnTrayHostAppeared();
  EXPECT_EQ(port_.Take(), (Calls{"tray+"}));
  EXPECT_TRUE(logic_.TrayIconPresent());
  port_.trayAddSucceeds = false;
  logic_.OnTrayHostAppeared();
  EXPECT_FALSE(logic_.TrayIconPresent()) << "a failed add leaves the icon absent";
  port_.trayAddSucceeds = true;
  state_.SetQuitting();
  port_.Take();
  logic_.OnTrayHostAppeared();
  EXPECT_TRUE(port_.Take().empty());
}

TEST_F(WindowLogicTest, HandOverBringsTheWindowForwardUntilQuitting) {
  EXPECT_EQ(logic_.OnHandOver("talvek --flag"), 1);
  EXPECT_EQ(port_.Take(), (Calls{"show"}));
  state_.SetQuitting();
  EXPECT_EQ(logic_.OnHandOver("talvek"), 0);
  EXPECT_TRUE(port_.Take().empty());
}

TEST_F(WindowLogicTest, EndOfSessionAndDestruction) {
  logic_.OnEndSession();
  EXPECT_TRUE(state_.IsQuitting());
  EXPECT_EQ(port_.Take(), (Calls{"stop-sign-in", "purge 500"}));
  logic_.OnDestroyed();
  EXPECT_EQ(port_.Take(), (Calls{"tray-", "purge 1500"}));
  EXPECT_FALSE(logic_.TrayIconPresent());
  logic_.OnDestroyed();
  EXPECT_EQ(port_.Take(), (Calls{"purge 1500"})) << "no second tray removal";
}

TEST_F(WindowLogicTest, TrayMenu) {
  logic_.OnTrayMenuRequested();
  EXPECT_EQ(port_.Take(), (Calls{"menu"}));
}

TEST(RunQuitSequence, StopsTheEngineReleasesTheLockClosesThenForcesExitZero) {
  std::vector<std::string> steps;
  RunQuitSequence({[&] { steps.push_back("engine"); }, [&] { steps.push_back("lock"); },
                   [&] { steps.push_back("close"); }, [&](int ms) { steps.push_back("sleep " + std::to_string(ms)); },
                   [&](int code) { steps.push_back("exit " + std::to_string(code)); }});
  EXPECT_EQ(steps, (std::vector<std::string>{"engine", "lock", "close", "sleep 5000", "exit 0"}));
}

}  // namespace
}  // namespace VirelantDesktop::window
