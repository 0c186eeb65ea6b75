// The attachment image routines on large photographs, in-process.
//
//   staging_12mp   DecodeOriented(2048) + IsOpaque + EncodeImageFile (JPEG,
//                  quality 0.8) of a 4000x3000 JPEG with EXIF orientation 6
//                  and photographic grain (about 4 MB at quality 90),
//                  generated once: seconds per call. Target: at most 0.25 s.
//   thumbnail      MakeThumbnail of the same photograph, and of the
//                  1536x2048 staged copy. Target: at most 0.05 s.
//   decode_100mp   DecodeOriented(2048) of a 10000x10000 JPEG: seconds.
//
// Peak memory: a fresh child process (this program with --child=<job>)
// does one staging run or one 100-megapixel decode and reports its VmHWM
// before and after; the figure is the peak of the whole child. Targets:
// staging at most 60 MB, the 100-megapixel decode well under 100 MB.
//
// After the table it prints one "image ..." line per figure, with the median
// CPU time beside the wall time (on a busy machine the wall time also counts
// waiting for a core). Repetitions:
// 5 each unless --benchmark_repetitions says.
//
//   build/default/bench/image_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "modules/attach/image_processing.h"
#include "tests/attach/image_samples.h"

namespace {

using namespace VirelantDesktop;
using Clock = std::chrono::steady_clock;
namespace images = testing::images;

constexpr std::string_view kChildFlag = "--child=";

std::string g_dir, g_photo12, g_photo100, g_staged;
// Wall and CPU seconds of each run: on a shared machine the CPU time tells
// what the code costs when the wall time also counts waiting for a core.
struct Runs {
  std::vector<double> wall, cpu;
};
Runs g_staging, g_thumb, g_stagedThumb, g_decode100;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `work` once, records it in `runs`, and returns its wall seconds
// (negative when `work` failed).
template <typename Work>
double Timed(Runs& runs, Work&& work) {
  const double cpuStart = ThreadCpuSeconds();
  const Clock::time_point start = Clock::now();
  const bool ok = work();
  const double wall = SecondsSince(start);
  if (!ok) return -1;
  runs.wall.push_back(wall);
  runs.cpu.push_back(ThreadCpuSeconds() - cpuStart);
  return wall;
}

// VmHWM of this process in KiB; -1 when unreadable.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// A photograph: soft gradients with grain, so the JPEG is as large as a camera's.
std::string Photograph(uint32_t width, uint32_t height, int orientation) {
  uint32_t seed = 12345;
  return images::JpegOf(
      width, height,
      [&](uint32_t x, uint32_t y) {
        seed = seed * 1664525u + 1013904223u;
        const int grain = static_cast<int>(seed >> 28) - 8;
        const auto at = [&](uint32_t v, uint32_t span) {
          return static_cast<uint8_t>(std::clamp(static_cast<int>(v * 200 / span) + 28 + grain, 0, 255));
        };
        return images::Bgra{at(x, width), at(y, height), at((x + y) / 2, (width + height) / 2), 255};
      },
      orientation != 0 ? images::ExifOrientation(static_cast<uint16_t>(orientation)) : std::string(), 90);
}

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

// One staging run: what the attachment pipeline does with a large JPEG.
bool Stage(const std::string& from, const std::string& to) {
  const auto bitmap = attach::DecodeOriented(from, attach::kStagingMaxSide);
  if (!bitmap || bitmap->width != 1536 || bitmap->height != 2048) return false;
  const bool opaque = attach::IsOpaque(*bitmap);
  return attach::EncodeImageFile(*bitmap, attach::ImageFormat::Jpeg, attach::kStagingJpegQuality, opaque, to);
}

void BM_Staging12mp(benchmark::State& state) {
  for (auto _ : state) {
    const double seconds = Timed(g_staging, [] { return Stage(g_photo12, g_staged); });
    if (seconds < 0) {
      state.SkipWithError("staging failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

void BM_Thumbnail(benchmark::State& state) {
  if (!Stage(g_photo12, g_staged)) {
    state.SkipWithError("staging failed");
    return;
  }
  for (auto _ : state) {
    const double seconds = Timed(g_thumb, [] { return !attach::MakeThumbnail(g_photo12).empty(); });
    if (seconds < 0 || Timed(g_stagedThumb, [] { return !attach::MakeThumbnail(g_staged).empty(); }) < 0) {
      state.SkipWithError("no thumbnail");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

void BM_Decode100mp(benchmark::State& state) {
  for (auto _ : state) {
    const double seconds = Timed(g_decode100, [] {
      const auto bitmap = attach::DecodeOriented(g_photo100, attach::kStagingMaxSide);
      return bitmap && bitmap->width == 2048;
    });
    if (seconds < 0) {
      state.SkipWithError("decode failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

// The child: one job, then "before=<KiB> peak=<KiB> ok=<0|1>".
int RunChild(std::string_view job) {
  const long before = PeakKib();
  bool ok = false;
  if (job == "staging") {
    ok = Stage(g_photo12, g_dir + "/child.jpg");
  } else if (job == "decode100") {
    const auto bitmap = attach::DecodeOriented(g_photo100, attach::kStagingMaxSide);
    ok = bitmap && bitmap->width == 2048;
  }
  std::printf("before=%ld peak=%ld ok=%d\n", before, PeakKib(), ok ? 1 : 0);
  return ok ? 0 : 1;
}

struct ChildPeak {
  long beforeKib = -1, peakKib = -1;
  bool ok = false;
};

ChildPeak MeasureInChild(const std::string& job) {
  ChildPeak peak;
  const bench::ChildRun run =
      bench::RunAndCollect({"/proc/self/exe", std::string(kChildFlag) + job, g_dir}, bench::ChildStderr::Inherit);
  if (!run.error.empty()) {
    std::fprintf(stderr, "%s\n", run.error.c_str());
    return peak;
  }
  int ok = 0;
  std::sscanf(run.output.c_str(), "before=%ld peak=%ld ok=%d", &peak.beforeKib, &peak.peakKib, &ok);
  peak.ok = ok == 1 && run.Succeeded();
  return peak;
}

void PrintSeconds(const char* name, const Runs& runs, double target) {
  if (runs.wall.empty()) return;
  const double median = bench::Median(runs.wall);
  std::printf("image %-24s median %.3f s (CPU %.3f s) over %zu runs%s\n", name, median, bench::Median(runs.cpu),
              runs.wall.size(), target <= 0 ? "" : (median <= target ? "  (target met)" : "  (TARGET MISSED)"));
}

void PrintPeak(const char* name, const ChildPeak& peak, double targetMb) {
  if (!peak.ok) {
    std::printf("image %-24s the child failed\n", name);
    return;
  }
  const double mb = static_cast<double>(peak.peakKib) / 1024.0;
  std::printf("image %-24s peak %.1f MB (%.1f MB before the work)  (%s)\n", name, mb,
              static_cast<double>(peak.beforeKib) / 1024.0, mb <= targetMb ? "target met" : "TARGET MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  // The child reuses the parent's files: --child=<job> <folder>.
  if (argc == 3 && std::string_view(argv[1]).starts_with(kChildFlag)) {
    g_dir = argv[2];
    g_photo12 = g_dir + "/photo12.jpg";
    g_photo100 = g_dir + "/photo100.jpg";
    return RunChild(std::string_view(argv[1]).substr(kChildFlag.size()));
  }

  bench::BenchTempDir dir("image-bench");
  g_dir = dir.path();
  g_photo12 = g_dir + "/photo12.jpg";
  g_photo100 = g_dir + "/photo100.jpg";
  g_staged = g_dir + "/staged.jpg";
  Save(g_photo12, Photograph(4000, 3000, 6));
  Save(g_photo100, Photograph(10000, 10000, 0));

  const bool repetitionsGiven = bench::RepetitionsGiven(argc, argv);
  for (auto* b : {benchmark::RegisterBenchmark("staging_12mp", BM_Staging12mp),
                  benchmark::RegisterBenchmark("thumbnail", BM_Thumbnail),
                  benchmark::RegisterBenchmark("decode_100mp", BM_Decode100mp)}) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    if (!repetitionsGiven) b->Repetitions(5);
  }
  if (!bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  PrintSeconds("staging_12mp", g_staging, 0.25);
  PrintSeconds("thumbnail 12mp source", g_thumb, 0.05);
  PrintSeconds("thumbnail staged copy", g_stagedThumb, 0.05);
  PrintSeconds("decode_100mp", g_decode100, 0);
  PrintPeak("staging_12mp memory", MeasureInChild("staging"), 60);
  PrintPeak("decode_100mp memory", MeasureInChild("decode100"), 100);
  return 0;
}
