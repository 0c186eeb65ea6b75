#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace {

using ::testing::HasSubstr;

using Child = VirelantDesktop::testing::ChildProcess;

TEST(Talvek, RunsTheDemoBundleHeadlessAndEndsOnTerminate) {
  Child talvek({TALVEK_PATH});
  ASSERT_TRUE(talvek.started());
  ASSERT_TRUE(talvek.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << talvek.output();
  EXPECT_THAT(talvek.output(), HasSubstr("TALVEK demo bundle, root tag 1"));
  talvek.Signal(SIGTERM);
  EXPECT_EQ(talvek.Wait(std::chrono::seconds(5)), 0);
}

TEST(Talvek, ASecondStartHandsOverAndExitsZero) {
  Child first({TALVEK_PATH});
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << first.output();

  const auto start = std::chrono::steady_clock::now();
  Child second({TALVEK_PATH, "--some-flag"});
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.Wait(std::chrono::seconds(5)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "accepted within one scan";
  EXPECT_EQ(second.output(), "") << "the second start runs no bundle";

  Child uninstall({TALVEK_PATH, "--VELOAPP-UNINSTALL"});
  EXPECT_EQ(uninstall.Wait(std::chrono::seconds(5)), 0) << "the uninstall switch needs no lock";

  first.Signal(SIGKILL);  // a killed instance must not block the next start
  EXPECT_EQ(first.Wait(std::chrono::seconds(5)), 128 + SIGKILL);
  Child third({TALVEK_PATH});
  ASSERT_TRUE(third.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << third.output();
  third.Signal(SIGTERM);
  EXPECT_EQ(third.Wait(std::chrono::seconds(5)), 0);
}

TEST(Talvek, ManySimultaneousStartsLeaveOneInstance) {
  std::vector<std::unique_ptr<Child>> starts;
  for (int i = 0; i < 10; ++i) starts.push_back(std::make_unique<Child>(std::vector<std::string>{TALVEK_PATH}));
  std::vector<bool> done(starts.size(), false);
  int exited = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (exited < 9 && std::chrono::steady_clock::now() < deadline) {
    for (size_t i = 0; i < starts.size(); ++i) {
      if (done[i]) continue;
      const int code = starts[i]->Wait(std::chrono::milliseconds(10));
      if (code != -1) {
        done[i] = true;
        EXPECT_EQ(code, 0);
        ++exited;
      }
    }
  }
  EXPECT_EQ(exited, 9) << "all but one handed over";
  for (auto& start : starts) start->Signal(SIGTERM);
}

TEST(TalvekRun, RunsTheDemoBundleAndExitsWhenIdle) {
  const std::string bundle = std::string(TALVEK_PATH).substr(0, std::string(TALVEK_PATH).rfind('/')) +
                             "/Bundle/index.windows";
  Child run({TALVEK_RUN_PATH, bundle});
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << run.output();
  EXPECT_EQ(run.Wait(std::chrono::seconds(5)), 0);
}

TEST(TalvekRun, BadUsageExitsTwo) {
  for (std::vector<std::string> argv : {std::vector<std::string>{TALVEK_RUN_PATH},
                                        {TALVEK_RUN_PATH, "a.js", "--timeout-ms"},
                                        {TALVEK_RUN_PATH, "a.js", "--timeout-ms", "soon"},
                                        {TALVEK_RUN_PATH, "a.js", "b.js"},
                                        {TALVEK_RUN_PATH, "--verbose", "a.js"}}) {
    SCOPED_TRACE(::testing::PrintToString(argv));
    Child run(argv);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.Wait(std::chrono::seconds(5)), 2);
  }
}

}  // namespace
