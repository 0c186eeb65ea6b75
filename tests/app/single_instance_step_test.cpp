#include "app/single_instance_step.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/folders.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::app {
namespace {

using platform::InstanceGuard;

TEST(Switches, CaseInsensitiveAndInTheirPlace) {
  EXPECT_TRUE(HasUninstallSwitch({"talvek", "--VeloApp-Uninstall"}));
  EXPECT_FALSE(HasUninstallSwitch({"talvek", "--x", "--veloapp-uninstall"})) << "only as the first argument";
  EXPECT_FALSE(HasUninstallSwitch({"--veloapp-uninstall"})) << "the program name is not an argument";
  EXPECT_TRUE(HasFontsInstalledSwitch({"talvek", "--x", "--FONTS-INSTALLED"}));
  EXPECT_FALSE(HasFontsInstalledSwitch({"--fonts-installed"}));
  EXPECT_FALSE(HasFontsInstalledSwitch({"talvek", "--fonts-installed-not"}));
}

class DecideSingleInstanceTest : public ::testing::Test {
 protected:
  SingleInstanceDeps Deps() {
    SingleInstanceDeps deps;
    deps.folder = dir_.path();
    deps.executablePath = platform::ExecutablePath().value_or("");
    // Time moves only when the step sleeps.
    deps.sleep = [this](int ms) {
      ++sleeps_;
      clock_ += std::chrono::milliseconds(ms);
      if (onSleep_) onSleep_();
    };
    deps.now = [this] { return clock_; };
    return deps;
  }

  testing::TempDir dir_;
  int sleeps_ = 0;
  std::chrono::steady_clock::time_point clock_{};
  std::function<void()> onSleep_;
};

TEST_F(DecideSingleInstanceTest, TheFirstStartRuns) {
  InstanceGuard guard;
  EXPECT_EQ(DecideSingleInstance({"talvek"}, Deps(), guard), StartDecision::Run);
  EXPECT_TRUE(guard.IsHeld());
  EXPECT_EQ(sleeps_, 0);
}

TEST_F(DecideSingleInstanceTest, ASecondStartHandsOverItsWholeCommandLine) {
  InstanceGuard running;
  ASSERT_EQ(InstanceGuard::TryAcquire(dir_.path(), running), InstanceGuard::Outcome::Acquired);
  std::vector<std::string> received;
  {
    platform::HandOverServer server(running.ListenFd(), 2000, [] { return false; },
                                    [&](std::vector<std::string> args) { received = std::move(args); });
    InstanceGuard guard;
    EXPECT_EQ(DecideSingleInstance({"talvek", "--open", "a b"}, Deps(), guard), StartDecision::HandedOver);
    EXPECT_FALSE(guard.IsHeld());
    EXPECT_EQ(sleeps_, 0) << "accepted at the first attempt";
  }
  EXPECT_EQ(received, (std::vector<std::string>{"talvek", "--open", "a b"}));
}

TEST_F(DecideSingleInstanceTest, AQuittingInstanceDeclines_TheScanStopsAfterFiveSeconds) {
  InstanceGuard running;
  ASSERT_EQ(InstanceGuard::TryAcquire(dir_.path(), running), InstanceGuard::Outcome::Acquired);
  platform::HandOverServer server(running.ListenFd(), 2000, [] { return true; }, nullptr);
  InstanceGuard guard;
  EXPECT_EQ(DecideSingleInstance({"talvek"}, Deps(), guard), StartDecision::HandedOver);
  EXPECT_EQ(sleeps_, 50) << "every 100 ms for 5000 ms";
}

TEST_F(DecideSingleInstanceTest, AfterAFontRelaunch_WaitsForTheOldProcess) {
  auto running = std::make_unique<InstanceGuard>();
  ASSERT_EQ(InstanceGuard::TryAcquire(dir_.path(), *running), InstanceGuard::Outcome::Acquired);
  onSleep_ = [&] {
    if (sleeps_ == 7) running.reset();  // the old process finally exits
  };
  InstanceGuard guard;
  EXPECT_EQ(DecideSingleInstance({"talvek", "--fonts-installed"}, Deps(), guard), StartDecision::Run);
  EXPECT_TRUE(guard.IsHeld());
  EXPECT_EQ(sleeps_, 7);
}

TEST_F(DecideSingleInstanceTest, AfterAFontRelaunch_GivesUpAfterAHundredTries) {
  InstanceGuard running;
  ASSERT_EQ(InstanceGuard::TryAcquire(dir_.path(), running), InstanceGuard::Outcome::Acquired);
  platform::HandOverServer server(running.ListenFd(), 2000, [] { return false; }, nullptr);
  InstanceGuard guard;
  EXPECT_EQ(DecideSingleInstance({"talvek", "--fonts-installed"}, Deps(), guard), StartDecision::HandedOver);
  EXPECT_EQ(sleeps_, 100);
}

TEST_F(DecideSingleInstanceTest, NoUsableFolder_RunsWithoutTheRule) {
  InstanceGuard guard;
  SingleInstanceDeps deps = Deps();
  deps.folder.clear();
  EXPECT_EQ(DecideSingleInstance({"talvek"}, deps, guard), StartDecision::Run);
}

}  // namespace
}  // namespace VirelantDesktop::app
