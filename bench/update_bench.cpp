// The update client's package download against the curl program.
//
//   tuc_download  a test driver in a temporary installation calls
//                 tuc_download_updates for a 100 MiB full package served over
//                 loopback HTTPS: the time of that call (TLS set-up,
//                 transfer, SHA-1 and SHA-256 while streaming, the write,
//                 flush and rename of the file).
//   curl_cli_file `curl -s -o FILE --cacert CA URL` in the temporary folder
//                 on the same URL: the whole process (a write like ours,
//                 though without digests or flush).
//   curl_cli      the same with `-o /dev/null`.
//
// The three alternate, round by round, so each sees the same machine. After
// the table it prints "update_download ..." with the median MB/s (MB = 10^6
// bytes) of each, the ratio ours/curl writing a file (the figure to hold)
// and ours/curl to /dev/null, and the median CPU time of the downloading
// process (the driver's, curl's), which a busy machine disturbs less than
// the elapsed time. Rounds: 5 unless --benchmark_repetitions says.
//
//   build/default/bench/update_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/process_setup.h"
#include "tests/support/https_test_server.h"

namespace {

using namespace VirelantDesktop;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kPackageBytes = size_t{100} << 20;
constexpr const char* kFileName = "talvek-1.1.0-full.nupkg";

std::string g_root;
std::string g_feedUrl;
std::vector<double> g_oursMBs;
std::vector<double> g_curlMBs;
std::vector<double> g_curlFileMBs;
std::vector<double> g_oursCpuMs;
std::vector<double> g_curlFileCpuMs;
std::vector<double> g_serverCpuMs;  // this process (the server) during our runs and curl's to a file

double MBPerSecond(double seconds) { return static_cast<double>(kPackageBytes) / 1e6 / seconds; }

std::string Hex(const std::string& data, const EVP_MD* md) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr);
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += "0123456789abcdef"[digest[i] >> 4];
    hex += "0123456789abcdef"[digest[i] & 15];
  }
  return hex;
}

// Runs a program to its end; its standard output, or nullopt when it failed.
std::optional<std::string> RunToEnd(std::vector<std::string> argv) {
  bench::PipedChild child = bench::SpawnPiped(std::move(argv));
  if (child.pid < 0) return std::nullopt;
  std::string out;
  char buffer[4096];
  ssize_t got;
  while ((got = read(child.out, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) out.append(buffer, static_cast<size_t>(got));
  }
  close(child.out);
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

void BM_TucDownload(benchmark::State& state) {
  for (auto _ : state) {
    std::error_code ignored;
    fs::remove_all(g_root + "/packages", ignored);
    const double cpuStart = bench::ChildrenCpuSeconds();
    const double serverStart = bench::ProcessCpuSeconds();
    const std::optional<std::string> out =
        RunToEnd({g_root + "/current/talvek", "--ca", testing::HttpsTestServer::CaFile(), "download", g_feedUrl});
    const size_t elapsed = out ? out->find("elapsed-ms ") : std::string::npos;
    if (!out || out->find("download ok\n") == std::string::npos || elapsed == std::string::npos) {
      state.SkipWithError("the download failed");
      break;
    }
    const double seconds = std::stod(out->substr(elapsed + 11)) / 1000;
    state.SetIterationTime(seconds);
    g_oursMBs.push_back(MBPerSecond(seconds));
    g_oursCpuMs.push_back((bench::ChildrenCpuSeconds() - cpuStart) * 1e3);
    g_serverCpuMs.push_back((bench::ProcessCpuSeconds() - serverStart) * 1e3);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageBytes));
}

void CurlRuns(benchmark::State& state, const std::string& output, std::vector<double>& rates,
              std::vector<double>* cpuMs) {
  for (auto _ : state) {
    const double cpuStart = bench::ChildrenCpuSeconds();
    const double serverStart = bench::ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    const std::optional<std::string> out = RunToEnd(
        {"/usr/bin/curl", "-s", "-f", "-o", output, "--cacert", testing::HttpsTestServer::CaFile(),
         g_feedUrl + kFileName});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!out) {
      state.SkipWithError("curl failed");
      break;
    }
    state.SetIterationTime(seconds);
    rates.push_back(MBPerSecond(seconds));
    if (cpuMs) {
      cpuMs->push_back((bench::ChildrenCpuSeconds() - cpuStart) * 1e3);
      g_serverCpuMs.push_back((bench::ProcessCpuSeconds() - serverStart) * 1e3);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageBytes));
}

void BM_CurlCli(benchmark::State& state) { CurlRuns(state, "/dev/null", g_curlMBs, nullptr); }
void BM_CurlCliFile(benchmark::State& state) {
  CurlRuns(state, g_root + "/curl.out", g_curlFileMBs, &g_curlFileCpuMs);
  std::error_code ignored;
  fs::remove(g_root + "/curl.out", ignored);
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  const bench::BenchTempDir dir("talvek-update-bench");
  g_root = dir.path() + "/root";
  fs::create_directories(g_root + "/current");
  fs::copy_file(TUC_DRIVER_PATH, g_root + "/current/talvek");
  fs::copy_file(TUC_LIBRARY_PATH, g_root + "/current/libtalvek-update.so");
  std::ofstream(g_root + "/current/update.version") << "{\"id\":\"talvek\",\"version\":\"1.0.0\"}\n";

  std::string package(kPackageBytes, '\0');
  std::mt19937_64 random(0x7a1);
  for (size_t i = 0; i + 8 <= package.size(); i += 8) {
    const uint64_t word = random();
    std::memcpy(package.data() + i, &word, 8);
  }
  const std::string releases = "{\"Assets\":[{\"PackageId\":\"talvek\",\"Version\":\"1.1.0\",\"Type\":\"Full\","
                               "\"FileName\":\"" + std::string(kFileName) + "\",\"SHA1\":\"" +
                               Hex(package, EVP_sha1()) + "\",\"SHA256\":\"" + Hex(package, EVP_sha256()) +
                               "\",\"Size\":" + std::to_string(package.size()) +
                               ",\"NotesMarkdown\":\"\",\"NotesHtml\":\"\"}]}";

  testing::HttpsTestServer server;
  server.Server().Get("/feed/releases.json", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(releases, "application/json");
  });
  server.Server().Get(std::string("/feed/") + kFileName, [&](const httplib::Request&, httplib::Response& response) {
    // Streamed from memory: no copy of the 100 MiB per request.
    response.set_content_provider(package.size(), "application/octet-stream",
                                  [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                    sink.write(package.data() + offset, std::min<size_t>(length, 1 << 20));
                                    return true;
                                  });
  });
  server.Start();
  g_feedUrl = server.BaseUrl() + "/feed/";

  const bool repetitionsGiven = bench::RepetitionsGiven(argc, argv);
  for (int round = 0; round < (repetitionsGiven ? 1 : 5); ++round) {
    for (const auto& [name, function] :
         {std::pair{"tuc_download", &BM_TucDownload}, std::pair{"curl_cli_file", &BM_CurlCliFile},
          std::pair{"curl_cli", &BM_CurlCli}}) {
      benchmark::RegisterBenchmark(name, function)
          ->UseManualTime()
          ->Iterations(1)
          ->Unit(benchmark::kMillisecond);
    }
  }
  if (!bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  if (!g_oursMBs.empty() && !g_curlFileMBs.empty()) {
    const double ours = bench::Median(g_oursMBs);
    const double curlFile = bench::Median(g_curlFileMBs);
    const double curl = bench::Median(g_curlMBs);
    const double ratio = ours / curlFile;
    std::printf("update_download package=100MiB loopback-https ours=%.0f MB/s curl-to-file=%.0f MB/s ratio=%.2f "
                "target>=0.90 %s (runs=%zu/%zu)\n",
                ours, curlFile, ratio, ratio >= 0.9 ? "met" : "MISSED", g_oursMBs.size(), g_curlFileMBs.size());
    if (curl > 0) {
      std::printf("update_download curl-to-devnull=%.0f MB/s ratio=%.2f (runs=%zu)\n", curl, ours / curl,
                  g_curlMBs.size());
    }
    std::printf("update_download cpu ours=%.0f ms curl-to-file=%.0f ms server=%.0f ms (medians)\n",
                bench::Median(g_oursCpuMs), bench::Median(g_curlFileCpuMs), bench::Median(g_serverCpuMs));
  }
  return 0;
}
