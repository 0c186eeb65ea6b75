// Small pieces the benchmark programs share.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

extern char** environ;

namespace VirelantDesktop::bench {

// True when the command line sets --benchmark_repetitions itself (then the
// programs leave their own default counts alone).
inline bool RepetitionsGiven(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with("--benchmark_repetitions")) return true;
  }
  return false;
}

// Parses the benchmark flags and runs what was registered; false when a flag
// was not understood.
inline bool RunRegisteredBenchmarks(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return true;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// CPU seconds (user + system) of the calling thread so far.
inline double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU seconds (user + system) of this process (RUSAGE_SELF) or of the child
// processes waited for (RUSAGE_CHILDREN) so far.
inline double UsageCpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
inline double ChildrenCpuSeconds() { return UsageCpuSeconds(RUSAGE_CHILDREN); }
inline double ProcessCpuSeconds() { return UsageCpuSeconds(RUSAGE_SELF); }

// A temporary folder under $TMPDIR (when absolute) or `fallbackBase`,
// removed with its content; the program ends when none can be made.
class BenchTempDir {
 public:
  BenchTempDir(const char* prefix, const char* fallbackBase = "/tmp") {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base == '/' ? base : fallbackBase) + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~BenchTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchTempDir(const BenchTempDir&) = delete;
  BenchTempDir& operator=(const BenchTempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A program started with /dev/null as its input and its standard output on a
// pipe; its standard error goes to /dev/null, into the same pipe, or stays ours.
enum class ChildStderr { Null, Pipe, Inherit };

struct PipedChild {
  pid_t pid = -1;
  int out = -1;       // the read end, close-on-exec; the caller closes it
  std::string error;  // set when nothing was started
};

inline PipedChild SpawnPiped(std::vector<std::string> argv, ChildStderr stderrTo = ChildStderr::Null) {
  PipedChild child;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    child.error = std::string("pipe2: ") + std::strerror(errno);
    return child;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);  // the copy loses O_CLOEXEC
  if (stderrTo == ChildStderr::Pipe) posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  if (stderrTo == ChildStderr::Null) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const int spawnError = posix_spawn(&child.pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawnError != 0) {
    close(fds[0]);
    child.pid = -1;
    child.error = "posix_spawn " + argv[0] + ": " + std::strerror(spawnError);
    return child;
  }
  child.out = fds[0];
  return child;
}

// Starts `argv` as SpawnPiped does, reads all of its standard output and
// waits for it. `status` is waitpid's; `error` is set when nothing ran.
struct ChildRun {
  std::string output;
  int status = -1;
  std::string error;
  bool Succeeded() const { return error.empty() && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

inline ChildRun RunAndCollect(std::vector<std::string> argv, ChildStderr stderrTo = ChildStderr::Null) {
  ChildRun run;
  PipedChild child = SpawnPiped(std::move(argv), stderrTo);
  if (child.pid < 0) {
    run.error = child.error;
    return run;
  }
  char block[256];
  for (ssize_t got; (got = read(child.out, block, sizeof block)) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    run.output.append(block, static_cast<size_t>(got));
  }
  close(child.out);
  while (waitpid(child.pid, &run.status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

// Points HOME and XDG_CACHE_HOME at new folders "home" and "cache" in `dir`;
// the program ends when they cannot be made.
inline void IsolateHomeAndCache(const std::string& dir) {
  for (const auto& [variable, folder] : {std::pair{"HOME", "home"}, std::pair{"XDG_CACHE_HOME", "cache"}}) {
    const std::string path = dir + "/" + folder;
    if (mkdir(path.c_str(), 0700) != 0) {
      std::perror(path.c_str());
      std::exit(1);
    }
    setenv(variable, path.c_str(), 1);
  }
}

}  // namespace VirelantDesktop::bench
