// The engine host's output path, measured on the engine double
// (talvek-engine).
//
//   reader_throughput    StartEngine with `--silent --flood N --line-bytes 64`
//                        and a context that counts "EngineHost.evt" events:
//                        lines per second from just before the start to the
//                        N-th event. Target: at least 1,000,000 lines/s.
//   plain_pipe           the same engine command spawned here with stdout on
//                        a pipe, read in 4096-byte blocks without looking at
//                        the bytes: lines per second from just before the
//                        spawn to the last flood byte read. The ceiling the
//                        reader is compared with.
//   start_to_first_line  StartEngine to the first "EngineHost.evt" event (the
//                        ready line); each run is stopped with StopNow and
//                        its exit event awaited before the next start.
//   js_listener          talvek-run on a bundle that starts the bundled
//                        engine with `--silent --flood N` and counts the
//                        events in an RCTDeviceEventEmitter listener: lines
//                        per second from just before start() (Date.now()) to
//                        the N-th event, and talvek-run's peak resident size
//                        (bounded: the reader waits while too much of its
//                        output waits for the listener).
//
// After the table it prints one "engine ..." line per figure and the ratio
// of the reader's median to the plain pipe's. Repetitions: 5, 5, 30 and 3
// unless --benchmark_repetitions says. --reader_lines=N and --js_lines=N
// change the line counts (default 2,000,000 and 500,000).
//
// start_to_first_line also counts the starts refused as "already_running"
// when tried as soon as the previous run's exit event arrived; the slot lets
// go of a run with its exit event, so the count should be 0. Refused starts
// are retried; only the successful start is timed.
//
// Every program started here sees HOME and the XDG folders pointed at a
// temporary folder.
//
//   build/default/bench/engine_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bridge/react_context.h"
#include "modules/engine/engine_rules.h"
#include "modules/engine/engine_run.h"
#include "platform/job_process.h"
#include "platform/process_setup.h"

extern char** environ;

namespace {

using namespace VirelantDesktop;
using Clock = std::chrono::steady_clock;

constexpr size_t kLineBytes = 64;  // the flood's line length, line feed included
constexpr int kHangMs = 120000;    // a run still going after this long has hung
constexpr int kExitWaitMs = 10000;  // a stopped engine's exit event

uint64_t g_readerLines = 2000000;
uint64_t g_jsLines = 500000;
std::string g_dir;  // temporary folder: HOME, the XDG folders, the bundle

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Line `index` of a flood of `bytes`-byte lines, line feed excluded.
std::string FloodLine(uint64_t index, size_t bytes) {
  std::string line = std::to_string(index);
  line.resize(bytes - 1, 'x');
  return line;
}

// ---- a context that counts -----------------------------------------------------------

// The events of one run. The output reader is the only thread that emits
// lines, so the count needs no ordering; the first and the `target`-th line
// are kept with the moment they arrived.
class RunEvents final : public ReactContextBackend {
 public:
  explicit RunEvents(uint64_t target) : target_(target) {}

  void EmitJSEvent(std::string_view, std::string_view eventName, JSValue payload) noexcept override {
    if (eventName == engine::kLineEvent) {
      const uint64_t n = lines_.fetch_add(1, std::memory_order_relaxed) + 1;
      if (n != 1 && n != target_) return;
      const Clock::time_point now = Clock::now();
      std::string line = TextOf(payload, "line");
      std::lock_guard lock(mutex_);
      if (n == 1) {
        firstAt_ = now;
        firstLine_ = line;
      }
      if (n == target_) {
        targetAt_ = now;
        targetLine_ = std::move(line);
      }
      changed_.notify_all();
    } else if (eventName == engine::kExitEvent) {
      std::lock_guard lock(mutex_);
      exited_ = true;
      const auto code = payload.find("code");
      if (code != payload.end() && code->is_number_integer()) exitCode_ = code->get<int64_t>();
      exitReason_ = TextOf(payload, "reason");
      changed_.notify_all();
    }
  }

  std::shared_ptr<UIDispatcher> GetUIDispatcher() const noexcept override { return nullptr; }

  uint64_t Lines() const noexcept { return lines_.load(std::memory_order_relaxed); }

  // Waits for the target line or the exit event. True: the target line came.
  bool WaitForTarget(int timeoutMs) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return targetAt_ || exited_; });
    return targetAt_.has_value();
  }
  bool WaitForExit(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return exited_; });
  }

  // Read once the waits above returned.
  Clock::time_point FirstAt() const { return firstAt_.value_or(Clock::time_point{}); }
  Clock::time_point TargetAt() const { return targetAt_.value_or(Clock::time_point{}); }
  const std::string& FirstLine() const { return firstLine_; }
  const std::string& TargetLine() const { return targetLine_; }
  std::string DescribeExit() const {
    std::lock_guard lock(mutex_);
    if (!exited_) return "no exit event";
    return "exit event code " + std::to_string(exitCode_) + " reason \"" + exitReason_ + "\"";
  }

 private:
  static std::string TextOf(const JSValue& payload, const char* key) {
    const auto member = payload.find(key);
    return member != payload.end() && member->is_string() ? member->get<std::string>() : std::string();
  }

  const uint64_t target_;
  std::atomic<uint64_t> lines_{0};
  mutable std::mutex mutex_;  // guards the members below
  std::condition_variable changed_;
  std::optional<Clock::time_point> firstAt_, targetAt_;
  std::string firstLine_, targetLine_;
  bool exited_ = false;
  int64_t exitCode_ = 0;
  std::string exitReason_;
};

// Stops the slot's run and waits for its exit event. Empty on success.
std::string StopAndWaitForExit(const std::shared_ptr<engine::EngineSlot>& slot, RunEvents& events) {
  if (auto run = slot->Current()) engine::StopNow(*run);
  if (!events.WaitForExit(kExitWaitMs)) return "no exit event within " + std::to_string(kExitWaitMs) + " ms of StopNow";
  return {};
}

// Waits until the slot lets go of its run (the exit watcher clears it).
bool WaitForFreeSlot(const std::shared_ptr<engine::EngineSlot>& slot) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
  while (slot->Current() != nullptr) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
}

std::vector<std::string> FloodArgs(uint64_t lines) {
  return {"--silent", "--flood", std::to_string(lines), "--line-bytes", std::to_string(kLineBytes)};
}

// ---- reader_throughput ----------------------------------------------------------------

std::vector<double> g_readerRates;

void BM_ReaderThroughput(benchmark::State& state) {
  const auto slot = std::make_shared<engine::EngineSlot>();
  for (auto _ : state) {
    auto events = std::make_shared<RunEvents>(g_readerLines);
    const ReactContext context(events);
    const Clock::time_point start = Clock::now();
    const engine::StartOutcome outcome = engine::StartEngine(slot, context, TALVEK_ENGINE_PATH, FloodArgs(g_readerLines));
    if (!outcome.ok) {
      state.SkipWithError(("StartEngine: " + outcome.code + ": " + outcome.message).c_str());
      break;
    }
    const bool complete = events->WaitForTarget(kHangMs);
    std::string error;
    if (!complete) {
      error = "got " + std::to_string(events->Lines()) + " of " + std::to_string(g_readerLines) + " lines; " +
              events->DescribeExit();
    } else if (events->FirstLine() != FloodLine(0, kLineBytes) ||
               events->TargetLine() != FloodLine(g_readerLines - 1, kLineBytes)) {
      error = "wrong lines: first \"" + events->FirstLine() + "\", last \"" + events->TargetLine() + "\"";
    }
    const std::string stopError = StopAndWaitForExit(slot, *events);
    if (error.empty()) error = stopError;
    if (error.empty() && events->Lines() != g_readerLines) {
      error = std::to_string(events->Lines()) + " lines by the exit event, expected " + std::to_string(g_readerLines);
    }
    if (error.empty() && !WaitForFreeSlot(slot)) error = "the slot still held the run after its exit event";
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    const double seconds = MsBetween(start, events->TargetAt()) / 1000.0;
    state.SetIterationTime(seconds);
    state.SetItemsProcessed(static_cast<int64_t>(g_readerLines));
    g_readerRates.push_back(static_cast<double>(g_readerLines) / seconds);
  }
}

// ---- plain_pipe -----------------------------------------------------------------------

std::vector<double> g_plainRates;

struct PlainRead {
  std::string error;
  double seconds = 0;  // spawn to the last flood byte
};

// The engine's stdin is /dev/null: after the flood it writes {"evt":"eof"}
// and exits 0, which closes the pipe.
PlainRead ReadPlainPipe(uint64_t lines) {
  PlainRead result;
  std::vector<std::string> argv{TALVEK_ENGINE_PATH};
  for (std::string& arg : FloodArgs(lines)) argv.push_back(std::move(arg));
  const Clock::time_point start = Clock::now();
  const bench::PipedChild child = bench::SpawnPiped(std::move(argv));
  if (!child.error.empty()) {
    result.error = child.error;
    return result;
  }
  const pid_t pid = child.pid;

  const uint64_t floodBytes = lines * kLineBytes;
  uint64_t total = 0;
  Clock::time_point floodRead{};
  const Clock::time_point deadline = start + std::chrono::milliseconds(kHangMs);
  bool hung = false;
  char block[4096];
  for (;;) {
    const ssize_t got = read(child.out, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<uint64_t>(got);
    if (total >= floodBytes && floodRead == Clock::time_point{}) floodRead = Clock::now();
    if (Clock::now() >= deadline) {
      hung = true;
      break;
    }
  }
  if (hung) kill(pid, SIGKILL);
  close(child.out);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const uint64_t expected = floodBytes + std::strlen("{\"evt\":\"eof\"}\n");
  if (hung) {
    result.error = "the engine was still writing after " + std::to_string(kHangMs) + " ms";
  } else if (total != expected) {
    result.error = "read " + std::to_string(total) + " bytes, expected " + std::to_string(expected);
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.error = "the engine ended with status " + std::to_string(status);
  } else {
    result.seconds = MsBetween(start, floodRead) / 1000.0;
  }
  return result;
}

void BM_PlainPipe(benchmark::State& state) {
  for (auto _ : state) {
    const PlainRead read = ReadPlainPipe(g_readerLines);
    if (!read.error.empty()) {
      state.SkipWithError(read.error.c_str());
      break;
    }
    state.SetIterationTime(read.seconds);
    state.SetItemsProcessed(static_cast<int64_t>(g_readerLines));
    g_plainRates.push_back(static_cast<double>(g_readerLines) / read.seconds);
  }
}

// ---- start_to_first_line --------------------------------------------------------------

std::vector<double> g_firstLineMs;
uint64_t g_refusedAfterExit = 0;

// One slot for every repetition, so that each start follows the previous
// run's exit event as closely as the repetitions allow.
const std::shared_ptr<engine::EngineSlot> g_firstLineSlot = std::make_shared<engine::EngineSlot>();

void BM_StartToFirstLine(benchmark::State& state) {
  const std::shared_ptr<engine::EngineSlot>& slot = g_firstLineSlot;
  for (auto _ : state) {
    auto events = std::make_shared<RunEvents>(1);
    const ReactContext context(events);
    // Tried at once after the previous run's exit event; a refusal is
    // counted and retried once the slot has let go.
    Clock::time_point start = Clock::now();
    engine::StartOutcome outcome = engine::StartEngine(slot, context, TALVEK_ENGINE_PATH, {});
    if (!outcome.ok && outcome.code == engine::kAlreadyRunningCode) {
      ++g_refusedAfterExit;
      if (!WaitForFreeSlot(slot)) {
        state.SkipWithError("the slot still held the previous run after its exit event");
        break;
      }
      start = Clock::now();
      outcome = engine::StartEngine(slot, context, TALVEK_ENGINE_PATH, {});
    }
    const Clock::time_point returned = Clock::now();
    if (!outcome.ok) {
      state.SkipWithError(("StartEngine: " + outcome.code + ": " + outcome.message).c_str());
      break;
    }
    std::string error;
    if (!events->WaitForTarget(kHangMs)) {
      error = "no line from the engine; " + events->DescribeExit();
    } else if (!events->FirstLine().starts_with(R"({"evt":"ready","pid":)" + std::to_string(outcome.pid))) {
      error = "first line was \"" + events->FirstLine() + "\"";
    }
    const std::string stopError = StopAndWaitForExit(slot, *events);
    if (error.empty()) error = stopError;
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    const double ms = MsBetween(start, events->FirstAt());
    state.SetIterationTime(ms / 1000.0);
    state.counters["start_call_ms"] = MsBetween(start, returned);
    g_firstLineMs.push_back(ms);
  }
}

// ---- js_listener ----------------------------------------------------------------------

std::vector<double> g_jsRates;
std::vector<double> g_jsPeakRssMb;

std::string ListenerBundle(uint64_t lines) {
  std::string js = "'use strict';\nconst N = " + std::to_string(lines) + ", LINE_LENGTH = " +
                   std::to_string(kLineBytes - 1) + ";\n";
  js += R"JS(
const engine = globalThis.__turboModuleProxy('EngineHost');
if (engine === null || typeof engine !== 'object') throw new Error('the EngineHost module is not linked in');
let count = 0;
let badLength = 0;
let start = 0;
let done = false;
function fail(message) {
  if (done) return;
  done = true;
  console.error('bench bundle failed: ' + message);
  __talvekRun.exit(1);
}
function floodLine(index) {
  return String(index).padEnd(LINE_LENGTH, 'x');
}
RCTDeviceEventEmitter.addListener('EngineHost.evt', (event) => {
  if (event.line.length !== LINE_LENGTH) badLength++;
  if (++count === 1 && event.line !== floodLine(0)) fail('first line was ' + JSON.stringify(event.line));
  if (count !== N || done) return;
  const elapsed = Date.now() - start;
  if (event.line !== floodLine(N - 1)) return fail('line ' + N + ' was ' + JSON.stringify(event.line));
  if (badLength !== 0) return fail(badLength + ' lines of the wrong length');
  done = true;
  console.log('elapsed_ms=' + elapsed + ' count=' + count);
  engine.stop().then(() => __talvekRun.exit(0), (e) => fail('stop: ' + e.message));
});
RCTDeviceEventEmitter.addListener('EngineHost.exit', (event) => {
  fail('the engine exited after ' + count + ' of ' + N + ' lines: ' + JSON.stringify(event));
});
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  try {
    const path = await engine.bundledPath();
    start = Date.now();
    await engine.start(path, ['--silent', '--flood', String(N)]);
  } catch (e) {
    fail('start: ' + e.code + ' ' + e.message);
  }
});
)JS";
  return js;
}

struct JsRun {
  std::string error;
  double elapsedMs = 0;
  double peakRssMb = 0;
};

JsRun RunListenerBundle(const std::string& bundle) {
  JsRun result;
  const bench::PipedChild child =
      bench::SpawnPiped({TALVEK_RUN_PATH, bundle, "--timeout-ms", std::to_string(kHangMs)}, bench::ChildStderr::Pipe);
  if (!child.error.empty()) {
    result.error = child.error;
    return result;
  }
  const pid_t pid = child.pid;

  // The runner ends itself at its own time-out; this one is for a runner
  // that does not.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHangMs + 10000);
  std::string output;
  bool hung = false;
  char block[4096];
  for (;;) {
    const int left = MsLeft(deadline);
    pollfd p{child.out, POLLIN, 0};
    const int ready = left > 0 ? poll(&p, 1, left) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      hung = true;
      break;
    }
    const ssize_t got = read(child.out, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(block, static_cast<size_t>(got));
  }
  if (hung) kill(pid, SIGKILL);
  close(child.out);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux

  long long count = 0;
  bool reported = false;
  for (size_t at = 0; at < output.size();) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(at, end - at);
    if (std::sscanf(line.c_str(), "elapsed_ms=%lf count=%lld", &result.elapsedMs, &count) == 2) reported = true;
    at = end + 1;
  }
  if (hung) {
    result.error = "talvek-run still running after " + std::to_string(kHangMs + 10000) + " ms";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !reported ||
             count != static_cast<long long>(g_jsLines)) {
    result.error = "talvek-run ended with status " + std::to_string(status) + ", output: " + output;
  }
  return result;
}

void BM_JsListener(benchmark::State& state) {
  const std::string bundle = g_dir + "/engine_listener.js";
  {
    std::ofstream out(bundle, std::ios::binary | std::ios::trunc);
    out << ListenerBundle(g_jsLines);
    if (!out.flush()) {
      state.SkipWithError(("cannot write " + bundle).c_str());
      return;
    }
  }
  for (auto _ : state) {
    const JsRun run = RunListenerBundle(bundle);
    if (!run.error.empty()) {
      state.SkipWithError(run.error.c_str());
      break;
    }
    // Date.now() has whole milliseconds; a run shorter than one tick still
    // counts as one.
    const double seconds = std::max(run.elapsedMs, 1.0) / 1000.0;
    state.SetIterationTime(seconds);
    state.SetItemsProcessed(static_cast<int64_t>(g_jsLines));
    state.counters["peak_rss_mb"] = run.peakRssMb;
    g_jsRates.push_back(static_cast<double>(g_jsLines) / seconds);
    g_jsPeakRssMb.push_back(run.peakRssMb);
  }
}

// ---- set-up ---------------------------------------------------------------------------

// HOME and the XDG folders in the temporary folder, for every program
// started from here on; other XDG_ variables are dropped.
void IsolateEnvironment(const std::string& dir) {
  std::vector<std::string> names;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("XDG_")) names.emplace_back(text.substr(0, text.find('=')));
  }
  for (const std::string& name : names) unsetenv(name.c_str());
  const std::pair<const char*, const char*> folders[] = {
      {"HOME", "home"},           {"XDG_DATA_HOME", "data"},       {"XDG_CACHE_HOME", "cache"},
      {"XDG_CONFIG_HOME", "config"}, {"XDG_STATE_HOME", "state"}, {"XDG_RUNTIME_DIR", "runtime"},
  };
  for (const auto& [variable, folder] : folders) {
    const std::string path = dir + "/" + folder;
    if (mkdir(path.c_str(), 0700) != 0) {
      std::perror(path.c_str());
      std::exit(1);
    }
    setenv(variable, path.c_str(), 1);
  }
}

// Takes --NAME=N off the command line into `value`. False on a malformed N.
bool TakeCountFlag(int& argc, char** argv, std::string_view name, uint64_t& value) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with(name) || arg.size() <= name.size() || arg[name.size()] != '=') continue;
    const std::string_view text = arg.substr(name.size() + 1);
    uint64_t parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed == 0) return false;
    value = parsed;
    std::copy(argv + i + 1, argv + argc, argv + i);
    --argc;
    return true;
  }
  return true;
}

void Register(bool repetitionsGiven) {
  struct Entry {
    const char* name;
    void (*function)(benchmark::State&);
    int repetitions;
    benchmark::TimeUnit unit;
  };
  const Entry entries[] = {
      {"reader_throughput", BM_ReaderThroughput, 5, benchmark::kMillisecond},
      {"plain_pipe", BM_PlainPipe, 5, benchmark::kMillisecond},
      {"start_to_first_line", BM_StartToFirstLine, 30, benchmark::kMicrosecond},
      {"js_listener", BM_JsListener, 3, benchmark::kMillisecond},
  };
  for (const Entry& entry : entries) {
    auto* registered = benchmark::RegisterBenchmark(entry.name, entry.function)
                           ->UseManualTime()
                           ->Unit(entry.unit)
                           ->Iterations(1)
                           ->ReportAggregatesOnly(true);
    if (!repetitionsGiven) registered->Repetitions(entry.repetitions);
  }
}

void PrintRate(const char* name, const std::vector<double>& rates, const char* note) {
  if (rates.empty()) return;
  const auto [low, high] = std::minmax_element(rates.begin(), rates.end());
  std::printf("engine %-20s median=%.0f lines/s min=%.0f max=%.0f runs=%zu%s\n", name, bench::Median(rates), *low,
              *high, rates.size(), note);
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  platform::SetJobGuardPathForTesting(TALVEK_JOB_GUARD_PATH);
  const bench::BenchTempDir dir("talvek-engine-bench");
  g_dir = dir.path();
  IsolateEnvironment(g_dir);

  if (!TakeCountFlag(argc, argv, "--reader_lines", g_readerLines) ||
      !TakeCountFlag(argc, argv, "--js_lines", g_jsLines)) {
    std::fprintf(stderr, "engine_bench: --reader_lines and --js_lines take a positive whole number\n");
    return 1;
  }
  Register(VirelantDesktop::bench::RepetitionsGiven(argc, argv));
  if (!VirelantDesktop::bench::RunRegisteredBenchmarks(argc, argv)) return 1;
  WaitForFreeSlot(g_firstLineSlot);  // the last run's exit watcher lets go

  const std::string lines = " (" + std::to_string(g_readerLines) + " lines of " + std::to_string(kLineBytes) + " bytes)";
  if (!g_readerRates.empty()) {
    const bool met = bench::Median(g_readerRates) >= 1e6;
    PrintRate("reader_throughput", g_readerRates, (lines + " target>=1000000 " + (met ? "met" : "MISSED")).c_str());
  }
  PrintRate("plain_pipe", g_plainRates, lines.c_str());
  if (!g_readerRates.empty() && !g_plainRates.empty()) {
    std::printf("engine reader/plain ratio=%.3f (medians)\n",
                bench::Median(g_readerRates) / bench::Median(g_plainRates));
  }
  if (!g_firstLineMs.empty()) {
    const auto [low, high] = std::minmax_element(g_firstLineMs.begin(), g_firstLineMs.end());
    std::printf("engine start_to_first_line median=%.2f ms min=%.2f max=%.2f runs=%zu "
                "refused_right_after_exit=%llu\n",
                bench::Median(g_firstLineMs), *low, *high, g_firstLineMs.size(),
                static_cast<unsigned long long>(g_refusedAfterExit));
  }
  if (!g_jsRates.empty()) {
    const std::string note = " (" + std::to_string(g_jsLines) + " lines) talvek-run peak_rss_mb median=" +
                             std::to_string(static_cast<long long>(bench::Median(g_jsPeakRssMb)));
    PrintRate("js_listener", g_jsRates, note.c_str());
  }
  return 0;
}
