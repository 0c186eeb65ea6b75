// The media cache's request gate and file store, measured in-process.
//
//   parse_fetch_request  ParseFetchRequest on a typical image request (a
//                        storage URL with a query, requestId, a full scope,
//                        Authorization with a 40-character token and
//                        X-Workspace-Id, timeoutMs 30000), built once:
//                        requests per second over 1,000,000 calls. Target: at
//                        least 1,000,000/s.
//   list_cache_files     ListCacheFiles over a cache of 100,000 files
//                        (10 uids x 10 workspaces x 10 threads x 100 files,
//                        CacheHash names + ".jpg", sparse): one listing, with
//                        the folders in the kernel's caches (warm).
//   enforce_cache_cap    EnforceCacheCap on the same cache, whose files are
//                        4 to 20 KiB (sparse, about 1.15 GiB in all) and
//                        carry distinct last-write times shuffled across the
//                        scopes; "justWritten" is the newest file. One call
//                        that evicts down to 1 GiB. After each call the files
//                        still present are checked against the expected
//                        outcome (exactly the oldest files are gone, the rest
//                        fit under 1 GiB), then the evicted ones are made
//                        again with their size and time, untimed.
//
// The cache is built once, on the first use of the two file benchmarks; no
// disk space is used beyond the inodes (sparse files). After the table it
// prints one "media ..." line per figure. Repetitions: 5 each unless
// --benchmark_repetitions says.
//
// HOME and XDG_CACHE_HOME point at a temporary folder, removed at the end.
//
//   build/default/bench/media_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "modules/media/cache_scope.h"
#include "modules/media/media_request.h"
#include "modules/media/media_root.h"
#include "platform/process_setup.h"
#include "talvek/fixed_values.h"

namespace {

using namespace VirelantDesktop;
using Clock = std::chrono::steady_clock;

constexpr int kUids = 10;
constexpr int kWorkspaces = 10;
constexpr int kThreads = 10;
constexpr int kFilesPerThread = 100;
constexpr size_t kCacheFiles = size_t{kUids} * kWorkspaces * kThreads * kFilesPerThread;
constexpr uint64_t kMinFileBytes = 4096;
constexpr uint64_t kFileBytesSpread = 16384;  // sizes are 4 KiB + [0, 16 KiB)
constexpr int64_t kParseIterations = 1000000;  // per repetition

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

std::vector<double> g_parseRates;
std::vector<double> g_listMs;
std::vector<double> g_capMs;
std::vector<size_t> g_evicted;

// ---- parse_fetch_request --------------------------------------------------------------

JSValue TypicalRequest() {
  const std::string host = fixed::kServiceHost;
  const std::string token = "eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiI0MiJ9.Q7";  // 40 token characters
  return JSValue{
      {"url", "https://" + host + "/api/storage/w_5f1c2d9e/t_8a41b7/3f9c2b7d1e6a4058.jpg?w=1024&h=768&v=2"},
      {"kind", "image"},
      {"requestId", "img-1718201234567-17"},
      {"scope", {{"uid", "u_7c9e6679"}, {"ws", "w_5f1c2d9e"}, {"thread", "t_8a41b7"}}},
      {"headers", {{"authorization", "Bearer " + token}, {"x-workspace-id", "w_5f1c2d9e"}}},
      {"timeoutMs", 30000},
  };
}

void BM_ParseFetchRequest(benchmark::State& state) {
  const JSValue request = TypicalRequest();
  if (request["headers"]["authorization"].get_ref<const std::string&>().size() != 7 + 40) {
    state.SkipWithError("the token is not 40 characters");
    return;
  }
  const media::FetchRequestCheck first = media::ParseFetchRequest(request);
  if (!first.request || first.request->headers.size() != 2 || first.request->timeoutMs != 30000) {
    state.SkipWithError(("the typical request was refused: " + first.code).c_str());
    return;
  }
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    media::FetchRequestCheck checked = media::ParseFetchRequest(request);
    benchmark::DoNotOptimize(checked);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  if (seconds > 0) g_parseRates.push_back(static_cast<double>(state.iterations()) / seconds);
}

// ---- the cache of 100,000 files --------------------------------------------------------

struct BenchFile {
  std::string path;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
};

struct Cache {
  std::string root;
  std::vector<BenchFile> files;       // in creation order
  std::vector<size_t> oldestFirst;    // indexes into files, by last-write time
  uint64_t totalBytes = 0;
  size_t expectedEvictions = 0;       // the oldest files whose removal brings the total to the cap
  uint64_t bytesAfter = 0;
  std::string justWritten;            // the newest file
  std::string error;
};

// One cached file as the store leaves it (read-only), with its size and time.
bool MakeFile(const BenchFile& file) {
  const int fd = open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, static_cast<off_t>(file.size)) == 0;
  const timespec times[2] = {
      {file.modifiedNs / 1000000000, file.modifiedNs % 1000000000},
      {file.modifiedNs / 1000000000, file.modifiedNs % 1000000000},
  };
  ok = futimens(fd, times) == 0 && ok;
  return close(fd) == 0 && ok;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

Cache BuildCache() {
  Cache cache;
  cache.root = media::MediaRoot();
  if (cache.root.empty()) {
    cache.error = "MediaRoot is unavailable";
    return cache;
  }
  std::mt19937_64 random(20240611);
  std::uniform_int_distribution<uint64_t> extra(0, kFileBytesSpread - 1);
  cache.files.reserve(kCacheFiles);
  for (int u = 0; u < kUids; ++u) {
    for (int w = 0; w < kWorkspaces; ++w) {
      for (int t = 0; t < kThreads; ++t) {
        const media::CacheScope scope{"u" + std::to_string(1000 + u), "ws" + std::to_string(2000 + u * kWorkspaces + w),
                                      "th" + std::to_string(30000 + (u * kWorkspaces + w) * kThreads + t)};
        const std::string folder = media::OpenScopeDir(scope).path;
        if (folder.empty()) {
          cache.error = "OpenScopeDir failed for " + media::ScopeKey(scope);
          return cache;
        }
        for (int f = 0; f < kFilesPerThread; ++f) {
          const std::string url = "https://" + std::string(fixed::kServiceHost) + "/api/storage/" + scope.ws + "/" +
                                  scope.thread + "/" + std::to_string(f) + ".jpg";
          BenchFile file;
          file.path = folder + "/" + media::CacheHash(scope.ws, url) + ".jpg";
          file.size = kMinFileBytes + extra(random);
          cache.files.push_back(std::move(file));
        }
      }
    }
  }
  // Distinct last-write times, one millisecond apart over the last few
  // minutes, in an order that has nothing to do with the folders.
  std::vector<size_t> order(cache.files.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::shuffle(order.begin(), order.end(), random);
  const int64_t newestNs =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const int64_t oldestNs = newestNs - static_cast<int64_t>(order.size()) * 1000000;
  for (size_t rank = 0; rank < order.size(); ++rank) {
    cache.files[order[rank]].modifiedNs = oldestNs + static_cast<int64_t>(rank) * 1000000;
  }
  cache.oldestFirst = order;
  for (const BenchFile& file : cache.files) {
    if (!MakeFile(file)) {
      cache.error = "cannot make " + file.path;
      return cache;
    }
    cache.totalBytes += file.size;
  }
  cache.justWritten = cache.files[order.back()].path;
  uint64_t total = cache.totalBytes;
  for (size_t index : cache.oldestFirst) {
    if (total <= media::kCacheCapBytes) break;
    total -= cache.files[index].size;
    ++cache.expectedEvictions;
  }
  cache.bytesAfter = total;
  if (cache.totalBytes <= media::kCacheCapBytes) cache.error = "the cache does not exceed the cap";
  return cache;
}

Cache& TheCache() {
  static Cache cache = BuildCache();
  return cache;
}

void BM_ListCacheFiles(benchmark::State& state) {
  Cache& cache = TheCache();
  if (!cache.error.empty()) {
    state.SkipWithError(cache.error.c_str());
    return;
  }
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    std::vector<media::CacheFile> files = media::ListCacheFiles(cache.root, /*includePart=*/false);
    const Clock::time_point end = Clock::now();
    if (files.size() != cache.files.size()) {
      state.SkipWithError(("listed " + std::to_string(files.size()) + " files, expected " +
                           std::to_string(cache.files.size())).c_str());
      break;
    }
    benchmark::DoNotOptimize(files);
    state.SetIterationTime(MsBetween(start, end) / 1000.0);
    state.SetItemsProcessed(static_cast<int64_t>(files.size()));
    g_listMs.push_back(MsBetween(start, end));
  }
}

// What the last call left: empty when exactly the expected oldest files are
// gone, else what is wrong. `evicted` gets the number of files gone.
std::string CheckEviction(const Cache& cache, size_t& evicted) {
  evicted = 0;
  size_t wrong = 0;
  std::string firstWrong;
  for (size_t rank = 0; rank < cache.oldestFirst.size(); ++rank) {
    const BenchFile& file = cache.files[cache.oldestFirst[rank]];
    const bool gone = !Exists(file.path);
    if (gone) ++evicted;
    if (gone != (rank < cache.expectedEvictions)) {
      if (wrong++ == 0) firstWrong = file.path + (gone ? " was evicted" : " was kept") + " (age rank " + std::to_string(rank) + ")";
    }
  }
  if (wrong == 0) return {};
  return std::to_string(wrong) + " files differ from the expected eviction, first: " + firstWrong;
}

// Makes the evicted files again; false when one cannot be made.
bool Restore(const Cache& cache) {
  for (const BenchFile& file : cache.files) {
    if (!Exists(file.path) && !MakeFile(file)) return false;
  }
  return true;
}

void BM_EnforceCacheCap(benchmark::State& state) {
  Cache& cache = TheCache();
  if (!cache.error.empty()) {
    state.SkipWithError(cache.error.c_str());
    return;
  }
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    media::EnforceCacheCap(cache.justWritten);
    const Clock::time_point end = Clock::now();
    size_t evicted = 0;
    const std::string problem = CheckEviction(cache, evicted);
    if (!Restore(cache)) {
      state.SkipWithError("cannot make the evicted files again");
      break;
    }
    if (!problem.empty()) {
      state.SkipWithError(problem.c_str());
      break;
    }
    state.SetIterationTime(MsBetween(start, end) / 1000.0);
    state.counters["evicted"] = static_cast<double>(evicted);
    g_capMs.push_back(MsBetween(start, end));
    g_evicted.push_back(evicted);
  }
}

// ---- set-up and summary -----------------------------------------------------------------

// HOME and XDG_CACHE_HOME in the temporary folder.
void Register(bool repetitionsGiven) {
  // A fixed count: the library's own trial runs would land in the rates.
  auto* parse = benchmark::RegisterBenchmark("parse_fetch_request", BM_ParseFetchRequest)
                    ->Iterations(kParseIterations)
                    ->Unit(benchmark::kNanosecond)
                    ->ReportAggregatesOnly(true);
  auto* list = benchmark::RegisterBenchmark("list_cache_files", BM_ListCacheFiles)
                   ->UseManualTime()
                   ->Iterations(1)
                   ->Unit(benchmark::kMillisecond)
                   ->ReportAggregatesOnly(true);
  auto* cap = benchmark::RegisterBenchmark("enforce_cache_cap", BM_EnforceCacheCap)
                  ->UseManualTime()
                  ->Iterations(1)
                  ->Unit(benchmark::kMillisecond)
                  ->ReportAggregatesOnly(true);
  if (!repetitionsGiven) {
    parse->Repetitions(5);
    list->Repetitions(5);
    cap->Repetitions(5);
  }
}

void PrintMs(const char* name, const std::vector<double>& values, const std::string& note) {
  if (values.empty()) return;
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::printf("media %-20s median=%.2f ms min=%.2f max=%.2f runs=%zu%s\n", name, bench::Median(values), *low, *high,
              values.size(), note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  const bench::BenchTempDir dir("talvek-media-bench");
  bench::IsolateHomeAndCache(dir.path());
  media::ResetMediaRootForTesting();

  Register(VirelantDesktop::bench::RepetitionsGiven(argc, argv));
  if (!VirelantDesktop::bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  if (!g_parseRates.empty()) {
    const auto [low, high] = std::minmax_element(g_parseRates.begin(), g_parseRates.end());
    const bool met = bench::Median(g_parseRates) >= 1e6;
    std::printf("media parse_fetch_request  median=%.0f requests/s min=%.0f max=%.0f runs=%zu target>=1000000 %s\n",
                bench::Median(g_parseRates), *low, *high, g_parseRates.size(), met ? "met" : "MISSED");
  }
  const std::string files = " (" + std::to_string(kCacheFiles) + " files in " +
                            std::to_string(kUids * kWorkspaces * kThreads) + " thread folders)";
  PrintMs("list_cache_files", g_listMs, files);
  if (!g_capMs.empty()) {
    const Cache& cache = TheCache();
    const auto [fewest, most] = std::minmax_element(g_evicted.begin(), g_evicted.end());
    char note[256];
    std::snprintf(note, sizeof note, "%s evicted=%zu", files.c_str(), *most);
    std::string text = note;
    if (*fewest != *most) text += " (fewest " + std::to_string(*fewest) + ")";
    std::snprintf(note, sizeof note, " files, %.3f GiB -> %.3f GiB (cap 1 GiB)",
                  static_cast<double>(cache.totalBytes) / static_cast<double>(media::kCacheCapBytes),
                  static_cast<double>(cache.bytesAfter) / static_cast<double>(media::kCacheCapBytes));
    PrintMs("enforce_cache_cap", g_capMs, text + note);
  }
  return 0;
}
