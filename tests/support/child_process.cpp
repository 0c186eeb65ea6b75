#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace VirelantDesktop::testing {

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  return environment;
}

std::vector<std::string> WithVariables(
    std::vector<std::string> environment,
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
  for (const auto& [name, value] : changes) {
    const std::string prefix = name + "=";
    std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(prefix); });
    if (value) environment.push_back(prefix + *value);
  }
  return environment;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& environment) {
  if (argv.empty()) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);  // the copy loses O_CLOEXEC

  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  std::vector<std::string> variables = environment;
  std::vector<char*> env;
  for (auto& variable : variables) env.push_back(variable.data());
  env.push_back(nullptr);

  if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_ = fds[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    Reap(true);
  }
  if (out_ >= 0) close(out_);
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (output_.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0) return false;
    pollfd pfd{out_, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool ChildProcess::Reap(bool block) {
  if (status_) return true;
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped != pid_) return false;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!Reap(false)) {
    if (pid_ <= 0 || std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return *status_;
}

bool ChildProcess::Running() { return pid_ > 0 && !Reap(false); }

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0 && !status_) kill(pid_, signal);  // never kill(-1): that signals every process
}

}  // namespace VirelantDesktop::testing
