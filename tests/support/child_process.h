// A program a test starts, with its standard output on a pipe (standard
// error stays the test's, so its messages show in the test log). Killed and
// reaped if the test leaves it running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace VirelantDesktop::testing {

// The test process's own environment, as "NAME=value" entries.
std::vector<std::string> CurrentEnvironment();
// `environment` with each named variable set to its value, or removed when
// the value is nullopt.
std::vector<std::string> WithVariables(
    std::vector<std::string> environment,
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes);

class ChildProcess {
 public:
  // argv[0] without a slash is looked up on PATH. Standard input is
  // /dev/null.
  explicit ChildProcess(std::vector<std::string> argv,
                        const std::vector<std::string>& environment = CurrentEnvironment());
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Reads output until it contains `text`; false at the deadline or when
  // the output ends first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  const std::string& output() const { return output_; }

  // Waits for the end: the exit code, 128 + the signal number when a signal
  // ended it, or -1 when it is still running at the deadline.
  int Wait(std::chrono::milliseconds timeout);
  // Still running (a check that does not wait).
  bool Running();
  // Sends `signal` while the child is running and not yet reaped.
  void Signal(int signal) const;

 private:
  bool Reap(bool block);

  pid_t pid_ = -1;
  int out_ = -1;
  std::optional<int> status_;  // set once reaped
  std::string output_;
};

}  // namespace VirelantDesktop::testing
