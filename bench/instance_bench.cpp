// Single-instance latencies of the shell.
//
//   handover_exit       one talvek runs headless (no DISPLAY); from just
//                       before posix_spawn() of a second talvek to that one
//                       reaped, having handed its command line over (exit 0).
//                       Target: a median under 30 ms.
//   first_window_shown  needs DISPLAY: from just before posix_spawn() of
//                       talvek to its "TALVEK" window being viewable (polled
//                       every millisecond); it is then terminated and reaped
//                       outside the timed span.
//
// Every talvek runs with HOME, XDG folders and a runtime folder of the
// benchmark's own. Run it on a private desktop so that neither windows nor
// tray items reach the user's session:
//
//   scripts/with-desktop.sh build/default/bench/instance_bench [--benchmark_repetitions=N]
//
// Prints, besides Google Benchmark's table (one start per repetition; medians
// of 30 and 10 unless --benchmark_repetitions says), the lines
//   handover_exit_ms median=... min=... max=... runs=...
//   first_window_shown_ms median=... min=... max=... runs=...
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/x11_probe.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using VirelantDesktop::bench::BenchTempDir;
using VirelantDesktop::testing::X11Probe;

constexpr int kHandOverRepetitions = 30;
constexpr int kWindowRepetitions = 10;
// A start that has not done its part by then has hung.
constexpr auto kHang = std::chrono::seconds(20);
constexpr auto kStopWait = std::chrono::seconds(10);

std::vector<double> g_handOverMs;
std::vector<double> g_windowMs;

double MsSince(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

bool HaveDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

// HOME, the XDG folders and a 0700 runtime folder for talvek, with the
// environment pointing at them; without `withDisplay` talvek sees no display.
class ShellFolders {
 public:
  explicit ShellFolders(bool withDisplay) : dir_("talvek-instance") {
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", "/home"},           {"XDG_DATA_HOME", "/data"},   {"XDG_CONFIG_HOME", "/config"},
        {"XDG_CACHE_HOME", "/cache"}, {"XDG_STATE_HOME", "/state"}, {"XDG_RUNTIME_DIR", "/runtime"},
    };
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view variable(*entry);
      const std::string_view name = variable.substr(0, variable.find('='));
      const bool replaced = std::any_of(std::begin(folders), std::end(folders),
                                        [&](const auto& folder) { return name == folder.first; });
      const bool display = name == "DISPLAY" || name == "WAYLAND_DISPLAY";
      if (!replaced && (withDisplay || !display)) variables_.emplace_back(variable);
    }
    for (const auto& [name, sub] : folders) {
      const std::string path = dir_.path() + sub;
      if (mkdir(path.c_str(), 0700) != 0) {
        std::perror(path.c_str());
        std::exit(1);
      }
      variables_.push_back(std::string(name) + "=" + path);
    }
    for (auto& variable : variables_) environment_.push_back(variable.data());
    environment_.push_back(nullptr);
  }

  char* const* Environment() const { return environment_.data(); }
  std::string SocketPath() const { return dir_.path() + "/runtime/talvek/instance.sock"; }

 private:
  BenchTempDir dir_;
  std::vector<std::string> variables_;
  std::vector<char*> environment_;
};

// talvek with its standard input and output on /dev/null; -1 on failure.
pid_t SpawnShell(const ShellFolders& folders) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = TALVEK_PATH;
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, folders.Environment());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "instance_bench: posix_spawn %s: %s\n", program.c_str(), std::strerror(error));
    return -1;
  }
  return pid;
}

// The wait status once `pid` ended; nullopt while it runs.
std::optional<int> Reaped(pid_t pid) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == pid) return status;
  return std::nullopt;
}

std::optional<int> WaitExit(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    if (auto status = Reaped(pid)) return status;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// SIGTERM, then SIGKILL when it does not end in time; reaped either way.
void Stop(pid_t pid) {
  if (pid <= 0) return;  // never kill(-1) or a process group
  kill(pid, SIGTERM);
  if (WaitExit(pid, Clock::now() + kStopWait)) return;
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

bool ExitedZero(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// The headless instance the hand-over starts talk to, started on first use.
struct Primary {
  std::unique_ptr<ShellFolders> folders;
  pid_t pid = -1;
  std::string error;
};
Primary g_primary;

// Spawns a second start and waits for its end; "" when it exited 0.
std::string HandOverOnce(double* ms) {
  const Clock::time_point start = Clock::now();
  const pid_t pid = SpawnShell(*g_primary.folders);
  if (pid <= 0) return "cannot start talvek";
  const auto status = WaitExit(pid, start + kHang);
  *ms = MsSince(start);
  if (!status) {
    Stop(pid);
    return "the second start did not exit within 20 s";
  }
  if (!ExitedZero(*status)) return "the second start ended with wait status " + std::to_string(*status);
  return "";
}

bool EnsurePrimary() {
  if (g_primary.folders) return g_primary.error.empty();
  g_primary.folders = std::make_unique<ShellFolders>(false);
  g_primary.pid = SpawnShell(*g_primary.folders);
  if (g_primary.pid <= 0) {
    g_primary.error = "cannot start talvek";
    return false;
  }
  const std::string socket = g_primary.folders->SocketPath();
  const Clock::time_point deadline = Clock::now() + kHang;
  struct stat info {};
  while (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
    if (Reaped(g_primary.pid)) {
      g_primary.pid = -1;
      g_primary.error = "the first talvek ended before its instance socket appeared";
      return false;
    }
    if (Clock::now() >= deadline) {
      g_primary.error = "no instance socket at " + socket + " within 20 s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // One untimed hand-over: the socket may exist before hand-overs are served.
  double ignored = 0;
  g_primary.error = HandOverOnce(&ignored);
  return g_primary.error.empty();
}

void BM_HandOverExit(benchmark::State& state) {
  if (!EnsurePrimary()) {
    state.SkipWithError(g_primary.error.c_str());
    return;
  }
  for (auto _ : state) {
    double ms = 0;
    const std::string error = HandOverOnce(&ms);
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.SetIterationTime(ms / 1000.0);
    g_handOverMs.push_back(ms);
  }
}

bool WindowShown(const X11Probe& probe, pid_t pid) {
  for (auto window : probe.FindClients("TALVEK", pid)) {
    if (probe.Viewable(window)) return true;
  }
  return false;
}

void BM_FirstWindowShown(benchmark::State& state) {
  if (!HaveDisplay()) {
    state.SkipWithError("needs an X display (DISPLAY): run under scripts/with-desktop.sh");
    return;
  }
  static const ShellFolders folders(true);
  const X11Probe probe;
  if (!probe.connected()) {
    state.SkipWithError("cannot open the display named by DISPLAY");
    return;
  }
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const pid_t pid = SpawnShell(folders);
    if (pid <= 0) {
      state.SkipWithError("cannot start talvek");
      break;
    }
    double ms = -1;
    std::optional<int> ended;
    while (Clock::now() - start < kHang) {
      if (WindowShown(probe, pid)) {
        ms = MsSince(start);
        break;
      }
      if ((ended = Reaped(pid))) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!ended) Stop(pid);
    if (ms < 0) {
      state.SkipWithError(ended ? "talvek ended without showing its window"
                                : "no viewable \"TALVEK\" window within 20 s");
      break;
    }
    state.SetIterationTime(ms / 1000.0);
    g_windowMs.push_back(ms);
  }
}

void Register(const char* name, void (*function)(benchmark::State&), int repetitions) {
  benchmark::RegisterBenchmark(name, function)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1)
      ->Repetitions(repetitions)
      ->ReportAggregatesOnly(true)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

void PrintSummary(const char* name, const std::vector<double>& samples, const char* note) {
  if (samples.empty()) {
    std::printf("%s: no samples\n", name);
    return;
  }
  const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
  std::printf("%s median=%.2f min=%.2f max=%.2f runs=%zu%s\n", name, VirelantDesktop::bench::Median(samples), *low,
              *high, samples.size(), note);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int repetitions = 0;  // 0: each benchmark's default
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument.starts_with("--benchmark_repetitions=")) {
      repetitions = std::max(1, std::atoi(argv[i] + std::strlen("--benchmark_repetitions=")));
    }
  }
  Register("handover_exit", BM_HandOverExit, repetitions > 0 ? repetitions : kHandOverRepetitions);
  // Without a display a single run reports the skip.
  Register("first_window_shown", BM_FirstWindowShown,
           !HaveDisplay() ? 1 : repetitions > 0 ? repetitions : kWindowRepetitions);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Stop(g_primary.pid);

  PrintSummary("handover_exit_ms", g_handOverMs, " (target: median < 30)");
  if (HaveDisplay()) {
    PrintSummary("first_window_shown_ms", g_windowMs, "");
  } else {
    std::printf("first_window_shown_ms: skipped, no DISPLAY (run under scripts/with-desktop.sh)\n");
  }
  return 0;
}
