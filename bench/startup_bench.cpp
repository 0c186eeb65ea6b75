// Start-up latency of the dev runner: from just before posix_spawn() of
// `talvek-run` on a one-line bundle (console.log("ready")) to reading that
// first full line from its stdout through a pipe. The child is then drained
// and reaped, outside the timed span.
//
// Prints, besides Google Benchmark's table (one spawn per repetition, median
// of 30 unless --benchmark_repetitions says), the line
//   start_to_first_line_ms median=... min=... max=... runs=...
// Target: a median of at most 25 ms.
//
//   build/default/bench/startup_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

namespace bench = VirelantDesktop::bench;

using Clock = std::chrono::steady_clock;

constexpr int kDefaultRepetitions = 30;
// A child that has not printed its line and exited by this long after the
// spawn has hung; it is killed.
constexpr int kHangMs = 10000;

std::string g_bundlePath;
std::vector<double> g_firstLineMs;  // one sample per measured spawn

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// A one-line bundle in a temporary folder.
class TempBundle {
 public:
  TempBundle() : dir_("talvek-startup"), path_(dir_.path() + "/ready.js") {
    std::ofstream out(path_, std::ios::binary);
    out << "console.log(\"ready\");\n";
    if (!out.flush()) {
      std::fprintf(stderr, "startup_bench: cannot write %s\n", path_.c_str());
      std::exit(1);
    }
  }
  const std::string& path() const { return path_; }

 private:
  VirelantDesktop::bench::BenchTempDir dir_;
  std::string path_;
};

struct SpawnResult {
  std::string error;        // empty on success
  double firstLineMs = 0;   // spawn to the first full line
  double exitMs = 0;        // spawn to the child reaped
};

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until EOF so that the child never blocks on a full pipe. False when
// the deadline came first.
bool Drain(int fd, Clock::time_point deadline) {
  char buffer[4096];
  for (;;) {
    const int left = MsLeft(deadline);
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) return true;
    if (got < 0) return false;
  }
}

SpawnResult SpawnOnce(const std::string& bundle) {
  SpawnResult result;
  const Clock::time_point start = Clock::now();
  const bench::PipedChild child =
      bench::SpawnPiped({TALVEK_RUN_PATH, bundle, "--timeout-ms", std::to_string(kHangMs)},
                        bench::ChildStderr::Inherit);
  if (!child.error.empty()) {
    result.error = child.error;
    return result;
  }
  const pid_t pid = child.pid;

  // Read up to the first newline.
  std::string line;
  bool gotLine = false;
  const Clock::time_point deadline = start + std::chrono::milliseconds(kHangMs);
  char buffer[256];
  while (!gotLine) {
    const int left = MsLeft(deadline);
    if (left <= 0) break;
    pollfd p{child.out, POLLIN, 0};
    const int ready = poll(&p, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t got = read(child.out, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EOF: the child ended without a full line
    const char* newline = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<size_t>(got)));
    if (newline != nullptr) {
      result.firstLineMs = MsBetween(start, Clock::now());
      line.append(buffer, static_cast<size_t>(newline - buffer));
      gotLine = true;
    } else {
      line.append(buffer, static_cast<size_t>(got));
    }
  }

  bool hung = !gotLine;
  if (gotLine && !Drain(child.out, deadline)) hung = true;
  if (hung) kill(pid, SIGKILL);
  close(child.out);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitMs = MsBetween(start, Clock::now());

  if (hung && gotLine) {
    result.error = "talvek-run did not exit within " + std::to_string(kHangMs) + " ms";
  } else if (!gotLine) {
    result.error = "no line from talvek-run within " + std::to_string(kHangMs) + " ms (got \"" + line + "\")";
  } else if (line != "ready") {
    result.error = "first line was \"" + line + "\", expected \"ready\"";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.error = "talvek-run ended with status " + std::to_string(status);
  }
  return result;
}

void BM_StartToFirstLine(benchmark::State& state) {
  for (auto _ : state) {
    const SpawnResult run = SpawnOnce(g_bundlePath);
    if (!run.error.empty()) {
      state.SkipWithError(run.error.c_str());
      break;
    }
    state.SetIterationTime(run.firstLineMs / 1000.0);
    state.counters["exit_ms"] = run.exitMs;
    g_firstLineMs.push_back(run.firstLineMs);
  }
}

void Register(bool repetitionsGiven) {
  auto* registered =
      benchmark::RegisterBenchmark("start_to_first_line", BM_StartToFirstLine)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1)
          ->ReportAggregatesOnly(true)
          ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
          ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
  if (!repetitionsGiven) registered->Repetitions(kDefaultRepetitions);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  TempBundle bundle;
  g_bundlePath = bundle.path();
  Register(VirelantDesktop::bench::RepetitionsGiven(argc, argv));
  if (!VirelantDesktop::bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  if (!g_firstLineMs.empty()) {
    const auto [low, high] = std::minmax_element(g_firstLineMs.begin(), g_firstLineMs.end());
    std::printf("start_to_first_line_ms median=%.2f min=%.2f max=%.2f runs=%zu (target: median <= 25)\n",
                VirelantDesktop::bench::Median(g_firstLineMs), *low, *high, g_firstLineMs.size());
  }
  return 0;
}
