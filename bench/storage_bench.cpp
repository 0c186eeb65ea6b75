// Cost of the storage modules' calls, made the way the bridge makes them
// (the registered module's method delegate, arguments through ConvertArgs,
// a promise whose sink records the outcome), without a JavaScript engine.
//
//   kv/get/<keys>          KV.get of one key from a store of <keys> members
//   kv/set/<keys>          KV.set of one existing key (the store keeps its
//                          size): a whole rewrite of kv.json, two fsyncs
//   file/atomic_write/<keys>  platform::WriteFileAtomic of a kv.json that size
//   file/plain_write/<keys>   the same steps without the two fsyncs
//   secure/roundtrip       SecureStore.set then SecureStore.get of one
//                          32-byte secret; needs a Secret Service, e.g.
//                          scripts/with-keyring.sh build/default/bench/storage_bench
//
// Stores hold 10, 100 and 1,000 members "key0000".. of 32-byte values.
// XDG_DATA_HOME points at a fresh folder under $TMPDIR, else /var/tmp (a
// disk, unlike a tmpfs /tmp, so fsync costs what it costs for users); the
// user's own data folder is never touched. The secure round trip leaves no
// item behind.
//
// After the table, one summary line per store size and one for the secure
// round trip, with the medians of five runs unless --benchmark_repetitions
// says; atomic_write - plain_write is the price of the two fsyncs.
//
//   build/default/bench/storage_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <fcntl.h>
#include <stdlib.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/arg_conversion.h"
#include "bridge/module_builder.h"
#include "bridge/module_registration.h"
#include "bridge/react_promise.h"
#include "modules/storage/kv_store.h"
#include "platform/atomic_file.h"
#include "platform/process_setup.h"
#include "platform/unique_fd.h"

namespace {

using VirelantDesktop::JSValue;
using VirelantDesktop::JSValueObject;
using VirelantDesktop::MethodArgs;
using VirelantDesktop::MethodInfo;
using VirelantDesktop::ModuleBuilder;
using VirelantDesktop::ModuleRegistration;
using VirelantDesktop::PromiseError;
using VirelantDesktop::PromiseSink;
using VirelantDesktop::PromiseState;

namespace kv = VirelantDesktop::kv;
namespace platform = VirelantDesktop::platform;

constexpr int kDefaultRepetitions = 5;
constexpr int kKeyCounts[] = {10, 100, 1000};
constexpr size_t kValueBytes = 32;
constexpr const char* kSecureKey = "talvek-bench.roundtrip";

std::string g_storeFolder;  // XDG_DATA_HOME + kv::kStoreSubfolder

// ---- calling a module ------------------------------------------------------------------

struct Outcome {
  bool settled = false;
  bool resolved = false;
  JSValue value;
  PromiseError error;
};

class RecordingSink final : public PromiseSink {
 public:
  explicit RecordingSink(std::shared_ptr<Outcome> outcome) : outcome_(std::move(outcome)) {}
  void Resolve(JSValue value) noexcept override {
    outcome_->settled = outcome_->resolved = true;
    outcome_->value = std::move(value);
  }
  void Reject(PromiseError error) noexcept override {
    outcome_->settled = true;
    outcome_->error = std::move(error);
  }

 private:
  std::shared_ptr<Outcome> outcome_;
};

// One instance of a registered module, called as the bridge would.
class Module {
 public:
  explicit Module(std::string_view name) {
    for (auto* record = ModuleRegistration::Head(); record != nullptr; record = record->Next()) {
      if (name == record->Name()) {
        object_ = record->MakeProvider()(builder_);
        return;
      }
    }
  }
  bool Found() const { return object_ != nullptr; }

  // The storage modules settle before the method returns.
  Outcome Call(std::string_view method, const std::vector<JSValue>& raw) const {
    auto outcome = std::make_shared<Outcome>();
    const MethodInfo* info = builder_.FindMethod(method);
    if (info == nullptr) {
      outcome->settled = true;
      outcome->error = {"no_method", std::string("no method ") + std::string(method)};
      return *outcome;
    }
    MethodArgs args = VirelantDesktop::ConvertArgs(raw, info->argTypes);
    info->delegate(args, std::make_shared<PromiseState>(std::make_unique<RecordingSink>(outcome)));
    return *outcome;
  }

 private:
  ModuleBuilder builder_;
  std::shared_ptr<void> object_;
};

std::string Describe(const Outcome& outcome) {
  if (!outcome.settled) return "still pending";
  if (outcome.resolved) return "resolved with " + outcome.value.dump();
  return "rejected: " + outcome.error.code + " (" + outcome.error.message + ")";
}

// ---- stores --------------------------------------------------------------------------

std::string KeyName(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "key%04d", index);
  return name;
}

// kValueBytes of text that differ with `seed`.
std::string ValueFor(long long seed) {
  std::string value = "value-" + std::to_string(seed) + "-";
  while (value.size() < kValueBytes) {
    value += static_cast<char>('a' + (seed + static_cast<long long>(value.size())) % 26);
  }
  value.resize(kValueBytes);
  return value;
}

std::string StoreBytes(int keys) {
  JSValue object = JSValueObject{};
  for (int i = 0; i < keys; ++i) object[KeyName(i)] = ValueFor(i);
  return kv::SerializeStore(object);
}

// Replaces kv.json with a store of `keys` members (once, not per call).
bool WriteStore(int keys) {
  std::error_code error;
  std::filesystem::create_directories(g_storeFolder, error);
  if (error) return false;
  return platform::WriteFileAtomic(g_storeFolder + "/" + kv::kStoreFileName, StoreBytes(keys)).ok();
}

// ---- benchmarks ----------------------------------------------------------------------

void KvGet(benchmark::State& state, const Module* module) {
  const int keys = static_cast<int>(state.range(0));
  if (!WriteStore(keys)) {
    state.SkipWithError(("cannot write the store in " + g_storeFolder).c_str());
    return;
  }
  const std::string key = KeyName(keys / 2);
  const JSValue expected = ValueFor(keys / 2);
  const std::vector<JSValue> args = {key};
  for (auto _ : state) {
    const Outcome outcome = module->Call("get", args);
    if (!outcome.resolved || outcome.value != expected) {
      state.SkipWithError(("get " + key + ": " + Describe(outcome)).c_str());
      break;
    }
  }
  state.counters["store_bytes"] = static_cast<double>(StoreBytes(keys).size());
}

void KvSet(benchmark::State& state, const Module* module) {
  const int keys = static_cast<int>(state.range(0));
  if (!WriteStore(keys)) {
    state.SkipWithError(("cannot write the store in " + g_storeFolder).c_str());
    return;
  }
  const std::string key = KeyName(0);
  long long step = 0;
  for (auto _ : state) {
    const Outcome outcome = module->Call("set", {key, ValueFor(++step)});
    if (!outcome.resolved || outcome.value != JSValue(true)) {
      state.SkipWithError(("set " + key + ": " + Describe(outcome)).c_str());
      return;
    }
  }
  // The store kept its size and holds the last value.
  const Outcome last = module->Call("get", {key});
  const Outcome other = module->Call("get", {KeyName(keys - 1)});
  if (last.value != JSValue(ValueFor(step)) || other.value != JSValue(ValueFor(keys - 1))) {
    state.SkipWithError(("the store does not hold what was set: " + Describe(last)).c_str());
  }
}

void AtomicWrite(benchmark::State& state) {
  const std::string data = StoreBytes(static_cast<int>(state.range(0)));
  const std::string path = g_storeFolder + "/atomic.json";
  for (auto _ : state) {
    const platform::AtomicWriteResult result = platform::WriteFileAtomic(path, data);
    if (!result.ok()) {
      const std::string stage = platform::AtomicWriteStageName(result.failedStage);
      state.SkipWithError(("WriteFileAtomic failed at " + stage).c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// WriteFileAtomic's steps, fsyncs left out.
void PlainWrite(benchmark::State& state) {
  const std::string data = StoreBytes(static_cast<int>(state.range(0)));
  const std::string path = g_storeFolder + "/plain.json";
  const std::string temp = path + ".tmp";
  for (auto _ : state) {
    ::unlink(temp.c_str());
    platform::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd || ::write(fd.Get(), data.data(), data.size()) != static_cast<ssize_t>(data.size()) ||
        ::close(fd.Release()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
      state.SkipWithError("the plain write failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void SecureRoundTrip(benchmark::State& state, const Module* module) {
  const std::vector<JSValue> getArgs = {kSecureKey};
  long long step = 0;
  for (auto _ : state) {
    const std::string value = ValueFor(++step);
    const Outcome set = module->Call("set", {kSecureKey, value});
    if (!set.resolved) {
      const std::string why = set.error.code == "secure_store_failed"
                                  ? "no usable Secret Service (" + set.error.message +
                                        "): run under scripts/with-keyring.sh"
                                  : "set " + Describe(set);
      state.SkipWithError(why.c_str());
      break;
    }
    const Outcome got = module->Call("get", getArgs);
    if (!got.resolved || got.value != JSValue(value)) {
      state.SkipWithError(("get after set: " + Describe(got)).c_str());
      break;
    }
  }
  module->Call("remove", getArgs);  // leave no item behind
}

// ---- the summary ------------------------------------------------------------------------

// Passes everything to the display reporter --benchmark_format chose and
// keeps the medians (and the errors) for the summary.
class SummaryReporter final : public benchmark::BenchmarkReporter {
 public:
  explicit SummaryReporter(benchmark::BenchmarkReporter* display) : display_(display) {}

  bool ReportContext(const Context& context) override { return display_->ReportContext(context); }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // "kv/get/10": without the "repeats:" and "real_time" parts.
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      if (run.error_occurred) {
        errors_[name] = run.error_message;
      } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedRealTime() * Scale(run.time_unit);
      } else if (run.run_type == Run::RT_Iteration && run.repetitions <= 1) {
        medians_[name] = run.GetAdjustedRealTime() * Scale(run.time_unit);  // a single run
      }
    }
    display_->ReportRuns(runs);
  }
  void Finalize() override { display_->Finalize(); }

  // Microseconds; nullopt when the benchmark did not run or failed.
  std::optional<double> Median(const std::string& name) const {
    auto it = medians_.find(name);
    if (it == medians_.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> Error(const std::string& name) const {
    auto it = errors_.find(name);
    if (it == errors_.end()) return std::nullopt;
    return it->second;
  }

 private:
  static double Scale(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1e-3;
      case benchmark::kMicrosecond:
        return 1;
      case benchmark::kMillisecond:
        return 1e3;
      case benchmark::kSecond:
        return 1e6;
    }
    return 1;
  }

  benchmark::BenchmarkReporter* display_;
  std::map<std::string, double> medians_;
  std::map<std::string, std::string> errors_;
};

std::string Figure(const SummaryReporter& summary, const std::string& name) {
  if (auto median = summary.Median(name)) {
    char text[32];
    if (*median >= 1000) {
      std::snprintf(text, sizeof text, "%.2fms", *median / 1000);
    } else {
      std::snprintf(text, sizeof text, "%.1fus", *median);
    }
    return text;
  }
  if (auto error = summary.Error(name)) return "failed(" + *error + ")";
  return "not-run";
}

void PrintSummary(const SummaryReporter& summary) {
  for (int keys : kKeyCounts) {
    const std::string n = std::to_string(keys);
    std::string line = "storage kv keys=" + n + " bytes=" + std::to_string(StoreBytes(keys).size()) +
                       " get=" + Figure(summary, "kv/get/" + n) + " set=" + Figure(summary, "kv/set/" + n) +
                       " atomic_write=" + Figure(summary, "file/atomic_write/" + n) +
                       " plain_write=" + Figure(summary, "file/plain_write/" + n);
    const auto atomic = summary.Median("file/atomic_write/" + n);
    const auto plain = summary.Median("file/plain_write/" + n);
    if (atomic && plain) {
      char fsync[48];
      std::snprintf(fsync, sizeof fsync, " fsyncs~%.2fms", (*atomic - *plain) / 1000);
      line += fsync;
    }
    std::printf("%s\n", line.c_str());
  }
  std::printf("storage secure roundtrip=%s\n", Figure(summary, "secure/roundtrip").c_str());
}

// ---- set-up -----------------------------------------------------------------------------

std::string FileSystemName(const std::string& path) {
  struct statfs info {};
  if (::statfs(path.c_str(), &info) != 0) return "unknown";
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
      return "ext4";
    case 0x01021994:
      return "tmpfs";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x794C7630:
      return "overlayfs";
    default: {
      char hex[24];
      std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(info.f_type));
      return hex;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  // On disk (not tmpfs), so a write pays what a real fsync costs.
  const VirelantDesktop::bench::BenchTempDir root("talvek-storage-bench", "/var/tmp");
  const std::string data = root.path() + "/data";
  // Before any module call: the KV module finds its folder from this.
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  g_storeFolder = data + kv::kStoreSubfolder;

  bool repetitionsGiven = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with("--benchmark_repetitions")) repetitionsGiven = true;
  }

  const Module kvModule("KV");
  const Module secureModule("SecureStore");
  if (!kvModule.Found() || !secureModule.Found()) {
    std::fprintf(stderr, "storage_bench: the KV and SecureStore modules are not linked in\n");
    return 1;
  }

  auto shape = [&](benchmark::internal::Benchmark* b) {
    b->UseRealTime()->Unit(benchmark::kMicrosecond)->ReportAggregatesOnly(true);
    if (!repetitionsGiven) b->Repetitions(kDefaultRepetitions);
    return b;
  };
  for (int keys : kKeyCounts) {
    shape(benchmark::RegisterBenchmark("kv/get", KvGet, &kvModule))->Arg(keys);
  }
  for (int keys : kKeyCounts) {
    shape(benchmark::RegisterBenchmark("kv/set", KvSet, &kvModule))->Arg(keys);
  }
  for (int keys : kKeyCounts) {
    shape(benchmark::RegisterBenchmark("file/atomic_write", AtomicWrite))->Arg(keys);
    shape(benchmark::RegisterBenchmark("file/plain_write", PlainWrite))->Arg(keys);
  }
  shape(benchmark::RegisterBenchmark("secure/roundtrip", SecureRoundTrip, &secureModule));

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("store_folder", g_storeFolder);
  benchmark::AddCustomContext("store_file_system", FileSystemName(root.path()));

  SummaryReporter summary(benchmark::CreateDefaultDisplayReporter());
  benchmark::RunSpecifiedBenchmarks(&summary);
  benchmark::Shutdown();
  PrintSummary(summary);
  return 0;
}
