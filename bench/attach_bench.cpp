// The attachment staging pipeline on a 12-megapixel photograph, in-process.
//
//   ingest_12mp          IngestFile (kind "media") of a 4000x3000 JPEG with
//                        EXIF orientation 6 and photographic grain (about
//                        3 MB at quality 90), generated once:
//                        decode, scale, turn upright, encode the 1536x2048
//                        JPEG and its thumbnail. Seconds per call; the staged
//                        item is discarded after each call, untimed. Target:
//                        median at most 0.25 s.
//   thumbnail            MakeThumbnail of the staged 1536x2048 JPEG (the
//                        step inside ingest_12mp) and of the 12-megapixel
//                        source itself. Target: the staged one at most 0.05 s.
//   ingest_12mp_x8       8 threads each ingesting its own copy of the
//                        photograph at once: wall time until all are staged.
//
// Peak memory: a fresh child process (this program with --ingest-child)
// ingests the photograph once and reports its VmHWM before and after; the
// figure is the peak of the whole process. Target: at most 60 MB.
//
// After the table it prints one "attach ..." line per figure. Repetitions:
// 5 each unless --benchmark_repetitions says. HOME and XDG_CACHE_HOME point
// at a temporary folder, removed at the end.
//
//   build/default/bench/attach_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "modules/attach/image_processing.h"
#include "modules/attach/ingest.h"
#include "modules/attach/staging_ops.h"
#include "modules/media/media_root.h"
#include "platform/process_setup.h"
#include "tests/attach/image_samples.h"

namespace {

using namespace VirelantDesktop;
using Clock = std::chrono::steady_clock;

constexpr int kConcurrent = 8;
constexpr std::string_view kChildFlag = "--ingest-child=";

std::string g_photo;                 // the 12-megapixel source
std::vector<std::string> g_copies;   // one per concurrent ingest
std::vector<double> g_ingestSeconds, g_stagedThumbSeconds, g_sourceThumbSeconds, g_concurrentSeconds;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// VmHWM of this process in KiB; -1 when unreadable.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

// 4000x3000 with EXIF orientation 6: smooth colours with grain on top, about
// as large as a camera's photograph at quality 90.
std::string PhotoLikeJpeg() {
  uint32_t noise = 0x9E3779B9;
  const auto grain = [&noise](int value) {
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    return static_cast<uint8_t>(std::clamp(value + static_cast<int>((noise >> 8) % 25) - 12, 0, 255));
  };
  return testing::images::JpegOf(
      4000, 3000,
      [&grain](uint32_t x, uint32_t y) {
        return testing::images::Bgra{grain(static_cast<int>(x / 16 % 256)), grain(static_cast<int>(y / 12 % 256)),
                                     grain(static_cast<int>((x + y) / 28 % 256)), 255};
      },
      testing::images::ExifOrientation(6));
}

void BM_Ingest(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const attach::IngestResult result = attach::IngestFile(g_photo, attach::IngestKind::Media);
    const double seconds = SecondsSince(start);
    if (!result.ok || result.width != 1536 || result.height != 2048 || result.thumb.empty()) {
      state.SkipWithError(("ingest failed: " + result.error).c_str());
      return;
    }
    state.SetIterationTime(seconds);
    g_ingestSeconds.push_back(seconds);
    attach::DiscardStaged(result.path);
  }
}

void BM_Thumbnail(benchmark::State& state) {
  const attach::IngestResult staged = attach::IngestFile(g_photo, attach::IngestKind::Media);
  if (!staged.ok) {
    state.SkipWithError(("ingest failed: " + staged.error).c_str());
    return;
  }
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    const std::string thumb = attach::MakeThumbnail(staged.path);
    const double stagedSeconds = SecondsSince(start);
    start = Clock::now();
    const std::string sourceThumb = attach::MakeThumbnail(g_photo);
    g_sourceThumbSeconds.push_back(SecondsSince(start));
    if (thumb.empty() || sourceThumb.empty()) {
      state.SkipWithError("no thumbnail");
      break;
    }
    state.SetIterationTime(stagedSeconds);
    g_stagedThumbSeconds.push_back(stagedSeconds);
  }
  attach::DiscardStaged(staged.path);
}

void BM_IngestConcurrent(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<attach::IngestResult> results(kConcurrent);
    std::vector<std::thread> threads;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kConcurrent; ++i) {
      threads.emplace_back([i, &results] { results[i] = attach::IngestFile(g_copies[i], attach::IngestKind::Media); });
    }
    for (std::thread& thread : threads) thread.join();
    const double seconds = SecondsSince(start);
    bool allStaged = true;
    for (const attach::IngestResult& result : results) {
      allStaged = allStaged && result.ok;
      attach::DiscardStaged(result.path);
    }
    if (!allStaged) {
      state.SkipWithError("a concurrent ingest failed");
      return;
    }
    state.SetIterationTime(seconds);
    g_concurrentSeconds.push_back(seconds);
  }
}

// The child: one ingest, then "before=<KiB> peak=<KiB> ok=<0|1>".
int RunChild(const std::string& photo) {
  const long before = PeakKib();
  const attach::IngestResult result = attach::IngestFile(photo, attach::IngestKind::Media);
  std::printf("before=%ld peak=%ld ok=%d\n", before, PeakKib(), result.ok ? 1 : 0);
  return result.ok ? 0 : 1;
}

struct ChildPeak {
  long beforeKib = -1, peakKib = -1;
  bool ok = false;
  std::string error;
};

ChildPeak MeasureInChild() {
  ChildPeak peak;
  const bench::ChildRun run = bench::RunAndCollect({"/proc/self/exe", std::string(kChildFlag) + g_photo});
  if (!run.error.empty()) {
    peak.error = run.error;
    return peak;
  }
  int ok = 0;
  if (std::sscanf(run.output.c_str(), "before=%ld peak=%ld ok=%d", &peak.beforeKib, &peak.peakKib, &ok) != 3) {
    peak.error = "the child reported nothing";
  }
  peak.ok = ok == 1 && run.Succeeded();
  return peak;
}

void PrintSeconds(const char* name, const std::vector<double>& values, double target, const char* note) {
  if (values.empty()) return;
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  const double median = bench::Median(values);
  std::printf("attach %-18s median=%.3f s min=%.3f max=%.3f runs=%zu", name, median, *low, *high, values.size());
  if (target > 0) std::printf(" target<=%.2f %s", target, median <= target ? "met" : "MISSED");
  std::printf("%s\n", note);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]).starts_with(kChildFlag)) {
    return RunChild(std::string(argv[1]).substr(kChildFlag.size()));
  }
  platform::InitProcess();
  const bench::BenchTempDir dir("talvek-attach-bench");
  bench::IsolateHomeAndCache(dir.path());
  media::ResetMediaRootForTesting();
  g_photo = dir.path() + "/photo.jpg";
  const std::string photo = PhotoLikeJpeg();
  for (int i = 0; i <= kConcurrent; ++i) {
    const std::string path = i == 0 ? g_photo : dir.path() + "/photo-" + std::to_string(i) + ".jpg";
    if (!WriteFile(path, photo)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    if (i > 0) g_copies.push_back(path);
  }

  const bool repetitionsGiven = bench::RepetitionsGiven(argc, argv);
  for (auto* registered : {benchmark::RegisterBenchmark("ingest_12mp", BM_Ingest),
                           benchmark::RegisterBenchmark("thumbnail", BM_Thumbnail),
                           benchmark::RegisterBenchmark("ingest_12mp_x8", BM_IngestConcurrent)}) {
    registered->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);
    if (!repetitionsGiven) registered->Repetitions(5);
  }
  if (!bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  struct stat info {};
  stat(g_photo.c_str(), &info);
  char note[128];
  std::snprintf(note, sizeof note, " (4000x3000, orientation 6, %.1f MB -> 1536x2048)",
                static_cast<double>(info.st_size) / 1e6);
  PrintSeconds("ingest_12mp", g_ingestSeconds, 0.25, note);
  PrintSeconds("thumbnail_staged", g_stagedThumbSeconds, 0.05, " (1536x2048 JPEG -> 96x128)");
  PrintSeconds("thumbnail_source", g_sourceThumbSeconds, 0, " (4000x3000 JPEG -> 96x128)");
  PrintSeconds("ingest_12mp_x8", g_concurrentSeconds, 0, " (wall time, 8 threads at once)");

  const ChildPeak peak = MeasureInChild();
  if (!peak.error.empty() || !peak.ok) {
    std::printf("attach peak_memory        failed: %s\n", peak.error.empty() ? "ingest failed" : peak.error.c_str());
  } else {
    const double mb = static_cast<double>(peak.peakKib) * 1024 / 1e6;
    std::printf("attach peak_memory        VmHWM=%.1f MB (%.1f MB before the ingest) target<=60 %s\n", mb,
                static_cast<double>(peak.beforeKib) * 1024 / 1e6, mb <= 60 ? "met" : "MISSED");
  }
  return 0;
}
