// Throughput of the module bridge, measured on an in-process host running
// generated bundles against the test-only TalvekProbe module. Each bundle
// warms up, times its own loop with Date.now() and prints
// "elapsed_ms=<ms> count=<n>"; that time is the iteration time, so Google
// Benchmark's items_per_second is the figure. One host per iteration.
//
// Figures, and their targets:
//   ping/*        promise round trips settled on the JS thread
//                 (await probe.ping()), one at a time and 64 in flight:
//                 at least 300,000 per second.
//   pingWorker/*  promise round trips settled by a worker thread
//                 (probe.pingWorker()), one at a time and 64 / 256 in
//                 flight: at least 100,000 per second.
//   events        events sent by a worker thread (probe.emitOnWorker(n)) and
//                 counted by an RCTDeviceEventEmitter listener, from the call
//                 until the listener saw all n: at least 200,000 per second.
// After the table, one "bridge <variant> median=<n>/s target>=<n>/s" line
// per variant. Five runs per variant unless --benchmark_repetitions says.
//
// The sequential worker variant pays two thread hand-overs per round trip
// (JS thread -> worker -> JS thread). The probe's worker looks for work for
// a few microseconds before it sleeps, as a busy worker would be awake;
// without that, a sleeping virtual CPU's wake-up (tens of microseconds)
// would be measured instead of the bridge.
//
//   build/default/bench/bridge_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/package_provider.h"
#include "host/react_host.h"
#include "platform/process_setup.h"

namespace {

using VirelantDesktop::CompReactPackageProvider;
using VirelantDesktop::host::ConsoleStream;
using VirelantDesktop::host::HostOptions;
using VirelantDesktop::host::ReactHost;

constexpr int kDefaultRepetitions = 5;
// A bundle still running after this long has hung.
constexpr int kHangMs = 120000;

std::string g_dir;  // temporary folder holding the generated bundle

// ---- bundles ------------------------------------------------------------------------

// Shared by every bundle: the probe, and the ending that reports failures
// and leaves through the runner's exit.
constexpr std::string_view kPrologue = R"JS('use strict';
const probe = globalThis.__turboModuleProxy('TalvekProbe');
if (probe === null || typeof probe !== 'object') throw new Error('the TalvekProbe module is not linked in');
function report(elapsedMs, count) {
  console.log('elapsed_ms=' + elapsedMs + ' count=' + count);
}
function finish(work) {
  work.then(
    () => __talvekRun.exit(0),
    (e) => {
      console.error('bench bundle failed: ' + (e && e.stack ? e.message + '\n' + e.stack : String(e)));
      __talvekRun.exit(1);
    });
}
)JS";

// Round trips through probe.<method>(), which resolves with null: `batch`
// calls in flight at a time (1: each awaited before the next).
std::string RoundTripBundle(const std::string& method, long long count, int batch, long long warmUp) {
  std::string js(kPrologue);
  js += "const METHOD = '" + method + "', COUNT = " + std::to_string(count) + ", BATCH = " +
        std::to_string(batch) + ", WARM = " + std::to_string(warmUp) + ";\n";
  js += R"JS(
const call = () => probe[METHOD]();
async function sequential(n) {
  for (let i = 0; i < n; i++) {
    const value = await call();
    if (value !== null) throw new Error(METHOD + '() resolved with ' + value);
  }
}
async function batched(n) {
  const inFlight = new Array(BATCH);
  for (let done = 0; done < n; done += BATCH) {
    for (let j = 0; j < BATCH; j++) inFlight[j] = call();
    const values = await Promise.all(inFlight);
    for (let j = 0; j < BATCH; j++) {
      if (values[j] !== null) throw new Error(METHOD + '() resolved with ' + values[j]);
    }
  }
}
const run = BATCH > 1 ? batched : sequential;
finish((async () => {
  await run(WARM);
  const start = Date.now();
  await run(COUNT);
  report(Date.now() - start, COUNT);
})());
)JS";
  return js;
}

// Round trips through Shell.appInfo(), each awaited before the next; every
// answer is checked.
std::string AppInfoBundle(long long count, long long warmUp) {
  std::string js(kPrologue);
  js += "const COUNT = " + std::to_string(count) + ", WARM = " + std::to_string(warmUp) + ";\n";
  js += R"JS(
const shell = globalThis.__turboModuleProxy('Shell');
async function sequential(n) {
  for (let i = 0; i < n; i++) {
    const info = await shell.appInfo();
    if (info.platform !== 'linux' || typeof info.version !== 'string') throw new Error('appInfo: ' + JSON.stringify(info));
  }
}
finish((async () => {
  await sequential(WARM);
  const start = Date.now();
  await sequential(COUNT);
  report(Date.now() - start, COUNT);
})());
)JS";
  return js;
}

// probe.emitOnWorker(n) sends "TalvekProbe.tick" {index: 0..n-1} from a
// worker; a listener checks the order and notes when the n-th arrived.
std::string EventBundle(long long count, long long warmUp) {
  std::string js(kPrologue);
  js += "const COUNT = " + std::to_string(count) + ", WARM = " + std::to_string(warmUp) + ";\n";
  js += R"JS(
let next = 0;
let target = 0;
let sawAll = null;
let failure = null;
RCTDeviceEventEmitter.addListener('TalvekProbe.tick', (event) => {
  if (event.index !== next && failure === null) failure = new Error('event ' + next + ' arrived as ' + event.index);
  if (++next === target) sawAll(Date.now());
});
async function burst(n) {
  next = 0;
  target = n;
  const seen = new Promise((resolve) => (sawAll = resolve));
  const start = Date.now();
  const sent = await probe.emitOnWorker(n);
  if (sent !== n) throw new Error('emitOnWorker(' + n + ') resolved with ' + sent);
  const end = await seen;
  if (failure !== null) throw failure;
  return end - start;
}
finish((async () => {
  await burst(WARM);
  report(await burst(COUNT), COUNT);
})());
)JS";
  return js;
}

// ---- running a bundle -----------------------------------------------------------------

struct Captured {
  std::mutex mutex;  // the sink is called on the JS and the UI thread
  std::vector<std::string> out;
  std::vector<std::string> err;
};

struct BundleRun {
  int exitCode = 0;
  std::vector<std::string> out;
  std::vector<std::string> err;
};

BundleRun RunBundle(const std::string& source) {
  const std::string file = "bench.js";
  {
    std::ofstream bundle(g_dir + "/" + file, std::ios::binary | std::ios::trunc);
    bundle << source;
    if (!bundle.flush()) {
      BundleRun failed;
      failed.exitCode = -1;
      failed.err.push_back("cannot write the bundle into " + g_dir);
      return failed;
    }
  }

  auto captured = std::make_shared<Captured>();
  HostOptions options;
  options.exitWhenIdle = true;
  options.runnerApi = true;
  options.componentRequired = false;
  options.timeoutMs = kHangMs;
  options.output = [captured](ConsoleStream stream, std::string_view line) {
    std::lock_guard lock(captured->mutex);
    (stream == ConsoleStream::Out ? captured->out : captured->err).emplace_back(line);
  };

  ReactHost host(options);
  host.InstanceSettings().BundleRootPath = "file://" + g_dir + "/";
  host.InstanceSettings().JavaScriptBundleFile = file;
  host.InstanceSettings().PackageProviders.push_back(std::make_shared<CompReactPackageProvider>());

  BundleRun run;
  run.exitCode = host.Start();
  std::lock_guard lock(captured->mutex);
  run.out = std::move(captured->out);
  run.err = std::move(captured->err);
  return run;
}

// Finds "elapsed_ms=<ms> count=<n>" among the lines.
bool ParseReport(const std::vector<std::string>& lines, double& elapsedMs, long long& count) {
  for (const auto& line : lines) {
    if (std::sscanf(line.c_str(), "elapsed_ms=%lf count=%lld", &elapsedMs, &count) == 2) return true;
  }
  return false;
}

std::string Describe(const BundleRun& run) {
  std::string text = "exit code " + std::to_string(run.exitCode);
  for (const auto& line : run.err) text += "; " + line;
  if (run.err.empty() && !run.out.empty()) text += "; last output: " + run.out.back();
  return text;
}

// ---- benchmarks -----------------------------------------------------------------------

struct Case {
  std::string name;
  std::string bundle;
  double targetPerSecond;
  std::vector<double> rates;  // one per measured run
};

std::vector<std::unique_ptr<Case>> g_cases;

void RunCase(benchmark::State& state, Case* c) {
  for (auto _ : state) {
    const BundleRun run = RunBundle(c->bundle);
    double elapsedMs = 0;
    long long count = 0;
    if (run.exitCode != 0 || !ParseReport(run.out, elapsedMs, count)) {
      state.SkipWithError(("the bundle failed: " + Describe(run)).c_str());
      break;
    }
    // Date.now() has whole milliseconds; a run shorter than one tick still
    // counts as one.
    const double seconds = std::max(elapsedMs, 1.0) / 1000.0;
    state.SetIterationTime(seconds);
    state.SetItemsProcessed(count);
    c->rates.push_back(static_cast<double>(count) / seconds);
  }
}

bool g_repetitionsGiven = false;  // --benchmark_repetitions on the command line

void AddCase(std::string name, std::string bundle, double targetPerSecond) {
  auto c = std::make_unique<Case>(Case{std::move(name), std::move(bundle), targetPerSecond, {}});
  auto* registered = benchmark::RegisterBenchmark(c->name.c_str(), RunCase, c.get())
                         ->UseManualTime()
                         ->Unit(benchmark::kMillisecond)
                         ->Iterations(1)
                         ->ReportAggregatesOnly(true);
  if (!g_repetitionsGiven) registered->Repetitions(kDefaultRepetitions);
  g_cases.push_back(std::move(c));
}

// Counts sized for roughly half a second to a second per run at the targets.
void RegisterCases() {
  AddCase("ping/sequential", RoundTripBundle("ping", 200000, 1, 20000), 300000);
  AddCase("ping/batch64", RoundTripBundle("ping", 320000, 64, 32000), 300000);
  AddCase("pingWorker/sequential", RoundTripBundle("pingWorker", 60000, 1, 5000), 100000);
  AddCase("pingWorker/batch64", RoundTripBundle("pingWorker", 128000, 64, 12800), 100000);
  AddCase("pingWorker/batch256", RoundTripBundle("pingWorker", 128000, 256, 12800), 100000);
  AddCase("events", EventBundle(200000, 20000), 200000);
  AddCase("shell.appInfo", AppInfoBundle(100000, 10000), 0);
}

}  // namespace

int main(int argc, char** argv) {
  VirelantDesktop::platform::InitProcess();
  const VirelantDesktop::bench::BenchTempDir dir("talvek-bridge");
  g_dir = dir.path();
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with("--benchmark_repetitions")) g_repetitionsGiven = true;
  }
  RegisterCases();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  for (const auto& c : g_cases) {
    if (c->rates.empty()) continue;
    const double median = VirelantDesktop::bench::Median(c->rates);
    if (c->targetPerSecond <= 0) {
      std::printf("bridge %-22s median=%.0f/s (%.2f us per round trip)\n", c->name.c_str(), median, 1e6 / median);
      continue;
    }
    std::printf("bridge %-22s median=%.0f/s target>=%.0f/s %s\n", c->name.c_str(), median, c->targetPerSecond,
                median >= c->targetPerSecond ? "met" : "MISSED");
  }
  return 0;
}
