#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

using ::testing::HasSubstr;

// A child program with its standard output on a pipe; killed if the test
// leaves early.
class Child {
 public:
  explicit Child(std::vector<std::string> argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  bool started() const { return pid_ > 0; }

  // Reads output until it contains `text` or the deadline passes.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd pfd{out_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

  // Waits for the exit; -1 when it did not exit normally in time.
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(5000);
    }
    return -1;
  }

  void Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);  // never kill(-1): that signals every process
  }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

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
  EXPECT_EQ(first.Wait(std::chrono::seconds(5)), -1);
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
