// The updater's file digest against OpenSSL on the same reads.
//
//   sha256_of_file           Sha256OfFile on a 150 MiB file of random bytes
//                            (in the page cache: written just before), on the
//                            path the CPU allows (its SHA extensions when it
//                            has them).
//   openssl_sha256           the same file read in the same 1 MiB blocks
//                            (platform::FileReader), each block handed to
//                            OpenSSL's EVP_DigestUpdate.
//   sha256_of_file_portable  Sha256OfFile with the portable compression forced.
//
// Each run checks that its digest equals OpenSSL's whole-file digest. After
// the table it prints "sha256 ..." lines: the median throughput of each (MB
// = 10^6 bytes) and the ratio ours/OpenSSL (target: at least 0.9).
// Repetitions: 7 each unless --benchmark_repetitions says.
//
//   build/default/bench/sha256_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "platform/file_reader.h"
#include "platform/process_setup.h"
#include "updater/sha256.h"

namespace {

using namespace VirelantDesktop;
using Clock = std::chrono::steady_clock;

constexpr size_t kFileBytes = size_t{150} << 20;
constexpr size_t kReadBlockBytes = size_t{1} << 20;

std::string g_path;
updater::Sha256Digest g_expected{};
std::vector<double> g_oursMBs;
std::vector<double> g_openSslMBs;
std::vector<double> g_portableMBs;

double MBPerSecond(Clock::duration elapsed) {
  return static_cast<double>(kFileBytes) / 1e6 / std::chrono::duration<double>(elapsed).count();
}

void WriteRandomFile(const std::string& path) {
  std::mt19937_64 random(0x256);
  std::vector<uint64_t> chunk(kReadBlockBytes / sizeof(uint64_t));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (size_t written = 0; written < kFileBytes; written += kReadBlockBytes) {
    for (uint64_t& word : chunk) word = random();
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(kReadBlockBytes));
  }
  if (!out.flush()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

std::optional<updater::Sha256Digest> OpenSslOfFile(const std::string& path) {
  platform::FileReader reader;
  if (!reader.Open(path)) return std::nullopt;
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kReadBlockBytes);
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  for (;;) {
    const std::optional<size_t> got = reader.ReadBlock(buffer.get(), kReadBlockBytes);
    if (!got) return std::nullopt;
    if (*got == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.get(), *got) != 1) return std::nullopt;
    if (*got < kReadBlockBytes) break;
  }
  updater::Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) return std::nullopt;
  return digest;
}

template <typename HashFile>
void HashRuns(benchmark::State& state, std::vector<double>& rates, HashFile hashFile) {
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const std::optional<updater::Sha256Digest> digest = hashFile(g_path);
    const Clock::duration elapsed = Clock::now() - start;
    if (!digest || *digest != g_expected) {
      state.SkipWithError(digest ? "wrong digest" : "cannot read the file");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    rates.push_back(MBPerSecond(elapsed));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

void BM_Sha256OfFile(benchmark::State& state) {
  updater::ForcePortableSha256ForTesting(false);
  HashRuns(state, g_oursMBs, updater::Sha256OfFile);
}

void BM_OpenSsl(benchmark::State& state) { HashRuns(state, g_openSslMBs, OpenSslOfFile); }

void BM_Sha256OfFilePortable(benchmark::State& state) {
  updater::ForcePortableSha256ForTesting(true);
  HashRuns(state, g_portableMBs, updater::Sha256OfFile);
  updater::ForcePortableSha256ForTesting(false);
}

void Register(bool repetitionsGiven) {
  using Function = void (*)(benchmark::State&);
  const std::pair<const char*, Function> benchmarks[] = {
      {"sha256_of_file", BM_Sha256OfFile},
      {"openssl_sha256", BM_OpenSsl},
      {"sha256_of_file_portable", BM_Sha256OfFilePortable},
  };
  for (const auto& [name, function] : benchmarks) {
    auto* benchmark = benchmark::RegisterBenchmark(name, function)
                          ->UseManualTime()
                          ->Iterations(1)
                          ->Unit(benchmark::kMillisecond)
                          ->ReportAggregatesOnly(true);
    if (!repetitionsGiven) benchmark->Repetitions(7);
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  const bench::BenchTempDir dir("talvek-sha256-bench");
  g_path = dir.path() + "/package.bin";
  WriteRandomFile(g_path);
  const std::optional<updater::Sha256Digest> expected = OpenSslOfFile(g_path);
  if (!expected) {
    std::fprintf(stderr, "cannot hash %s with OpenSSL\n", g_path.c_str());
    return 1;
  }
  g_expected = *expected;

  Register(VirelantDesktop::bench::RepetitionsGiven(argc, argv));
  if (!VirelantDesktop::bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  const char* path = updater::Sha256UsesCpuExtensions() ? "cpu-sha-extensions" : "portable (no SHA extensions)";
  const double ours = bench::Median(g_oursMBs);
  const double openSsl = bench::Median(g_openSslMBs);
  if (!g_oursMBs.empty() && !g_openSslMBs.empty()) {
    const double ratio = ours / openSsl;
    std::printf("sha256 file=150MiB ours=%.0f MB/s openssl=%.0f MB/s ratio=%.3f target>=0.9 %s path=%s runs=%zu/%zu\n",
                ours, openSsl, ratio, ratio >= 0.9 ? "met" : "MISSED", path, g_oursMBs.size(), g_openSslMBs.size());
  } else if (!g_oursMBs.empty()) {
    std::printf("sha256 file=150MiB ours=%.0f MB/s path=%s runs=%zu\n", ours, path, g_oursMBs.size());
  }
  if (!g_portableMBs.empty()) {
    std::printf("sha256 file=150MiB portable=%.0f MB/s runs=%zu\n", bench::Median(g_portableMBs),
                g_portableMBs.size());
  }
  return 0;
}
