// The media download engine against a local HTTPS server:
//   - a 100 MiB "file" download through fetchToCache, against the curl
//     command writing the same URL to a file, from the same server in the
//     same run (the two alternate); besides MB/s it reports the CPU time of
//     the downloading side (our worker thread, curl's process), which a
//     busy machine disturbs less than the elapsed time;
//   - 100 identical concurrent fetchToCache calls: how many HTTP requests;
//   - "peek" of a cached file: median latency.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "bench/bench_support.h"
#include "modules/media/cache_scope.h"
#include "modules/media/fetch_worker.h"
#include "modules/media/http_transfer.h"
#include "modules/media/media_operations.h"
#include "modules/media/media_request.h"
#include "modules/media/media_root.h"
#include "platform/process_setup.h"
#include "tests/support/https_test_server.h"

namespace VirelantDesktop {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBigBytes = 100u << 20;
constexpr int kJoiners = 100;

// A promise whose outcome the benchmark waits for.
struct Outcome {
  std::mutex lock;  // guards settled and value
  std::condition_variable changed;
  bool settled = false;
  JSValue value;
  std::string code;

  void Wait() {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return settled; });
  }
};

class OutcomeSink final : public PromiseSink {
 public:
  explicit OutcomeSink(std::shared_ptr<Outcome> outcome) : outcome_(std::move(outcome)) {}
  void Resolve(JSValue value) noexcept override { Settle(std::move(value), {}); }
  void Reject(PromiseError error) noexcept override { Settle(nullptr, error.code); }

 private:
  void Settle(JSValue value, std::string code) {
    {
      std::lock_guard guard(outcome_->lock);
      outcome_->settled = true;
      outcome_->value = std::move(value);
      outcome_->code = std::move(code);
    }
    outcome_->changed.notify_all();
  }
  std::shared_ptr<Outcome> outcome_;
};

ReactPromise<JSValue> PromiseFor(const std::shared_ptr<Outcome>& outcome) {
  return ReactPromise<JSValue>(std::make_shared<PromiseState>(std::make_unique<OutcomeSink>(outcome)));
}

std::string Url(const std::string& name) { return "https://app.talvek.chat/api/storage/" + name; }

media::FetchRequest Request(const std::string& name, const std::string& kind, const std::string& requestId) {
  const JSValue value{{"url", Url(name)},
                      {"kind", kind},
                      {"requestId", requestId},
                      {"scope", {{"uid", "bench"}, {"ws", "w"}, {"thread", "t"}}}};
  return *media::ParseFetchRequest(value).request;
}

struct Bench {
  testing::HttpsTestServer server;
  std::shared_ptr<media::State> state = std::make_shared<media::State>();
  std::string body = std::string("%PDF-1.7\n") + std::string(kBigBytes - 9, 'x');
  std::atomic<int> joinRequests{0};
  std::vector<double> oursMBs, curlMBs, oursCpuMs, curlCpuMs, peekUs;
  int joinedCount = -1;

  Bench() {
    server.Server().Get("/api/storage/big", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(body.size(), "application/pdf",
                                    [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                      return sink.write(body.data() + offset, std::min<size_t>(length, 1 << 20));
                                    });
    });
    server.Server().Get("/api/storage/joined", [this](const httplib::Request&, httplib::Response& response) {
      ++joinRequests;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the calls arrive while it runs
      response.set_content(std::string("\x89PNG\r\n\x1a\n", 8) + std::string(4096, '\1'), "image/png");
    });
    server.Start();
    media::SetDownloadTrustForTesting(testing::HttpsTestServer::CaFile(), ConnectTo());
  }

  // The server stops before the body its handler reads goes away.
  ~Bench() { server.Stop(); }

  std::string ConnectTo() const { return "app.talvek.chat:443:127.0.0.1:" + std::to_string(server.Port()); }

  JSValue FetchAndWait(const media::FetchRequest& request) {
    auto outcome = std::make_shared<Outcome>();
    media::FetchToCache(state, request, PromiseFor(outcome), [](const std::string&, uint64_t, uint64_t) {});
    outcome->Wait();
    if (!outcome->code.empty()) {
      std::fprintf(stderr, "fetchToCache failed: %s\n", outcome->code.c_str());
      std::exit(1);
    }
    return outcome->value;
  }
};

Bench* g_bench = nullptr;

double MBs(double seconds) { return static_cast<double>(kBigBytes) / 1e6 / seconds; }

void BM_FetchToCache100MiB(benchmark::State& state) {
  for (auto _ : state) {
    media::Remove(*g_bench->state, {"bench", "w", "t"}, Url("big"));
    const double cpuStart = bench::ThreadCpuSeconds();
    const auto start = Clock::now();
    g_bench->FetchAndWait(Request("big", "file", "big"));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    g_bench->oursMBs.push_back(MBs(seconds));
    g_bench->oursCpuMs.push_back((bench::ThreadCpuSeconds() - cpuStart) * 1e3);
  }
}

void BM_Curl100MiB(benchmark::State& state) {
  const std::string out = std::string(std::getenv("XDG_CACHE_HOME")) + "/curl-copy";
  const std::string command = "curl -s -o '" + out + "' --cacert '" + testing::HttpsTestServer::CaFile() +
                              "' --connect-to " + g_bench->ConnectTo() + " -H 'Accept-Encoding: identity' '" +
                              Url("big") + "'";
  for (auto _ : state) {
    std::remove(out.c_str());
    const double cpuStart = bench::ChildrenCpuSeconds();
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    g_bench->curlMBs.push_back(MBs(seconds));
    g_bench->curlCpuMs.push_back((bench::ChildrenCpuSeconds() - cpuStart) * 1e3);
  }
  std::remove(out.c_str());
}

void BM_HundredJoinedCalls(benchmark::State& state) {
  for (auto _ : state) {
    media::Remove(*g_bench->state, {"bench", "w", "t"}, Url("joined"));
    g_bench->joinRequests = 0;
    std::vector<std::shared_ptr<Outcome>> outcomes;
    std::vector<std::thread> callers;
    for (int i = 0; i < kJoiners; ++i) {
      outcomes.push_back(std::make_shared<Outcome>());
      callers.emplace_back([i, outcome = outcomes.back()] {
        media::FetchToCache(g_bench->state, Request("joined", "image", "j" + std::to_string(i)),
                            PromiseFor(outcome), [](const std::string&, uint64_t, uint64_t) {});
      });
    }
    for (auto& caller : callers) caller.join();
    for (auto& outcome : outcomes) outcome->Wait();
    g_bench->joinedCount = g_bench->joinRequests.load();
  }
}

void BM_PeekCached(benchmark::State& state) {
  g_bench->FetchAndWait(Request("joined", "image", "peek"));
  const media::CacheScope scope{"bench", "w", "t"};
  for (auto _ : state) {
    const auto start = Clock::now();
    JSValue found = media::Peek(*g_bench->state, scope, Url("joined"));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (found.is_null()) state.SkipWithError("not cached");
    g_bench->peekUs.push_back(seconds * 1e6);
    benchmark::DoNotOptimize(found);
  }
}

}  // namespace
}  // namespace VirelantDesktop

int main(int argc, char** argv) {
  using namespace VirelantDesktop;
  platform::InitProcess();
  const bench::BenchTempDir dir("talvek-media-fetch-bench");
  bench::IsolateHomeAndCache(dir.path());
  Bench bench;
  g_bench = &bench;

  const bool own = !bench::RepetitionsGiven(argc, argv);
  // Ours and curl's runs alternate, so both see the same machine.
  for (int round = 0; round < (own ? 5 : 1); ++round) {
    benchmark::RegisterBenchmark("fetch_to_cache_100MiB", BM_FetchToCache100MiB)->Iterations(1)->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("curl_100MiB", BM_Curl100MiB)->Iterations(1)->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("hundred_identical_fetches", BM_HundredJoinedCalls)->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("peek_cached", BM_PeekCached)->Iterations(2000)->Unit(benchmark::kMicrosecond);
  if (!bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  const double ours = bench::Median(bench.oursMBs), curl = bench::Median(bench.curlMBs);
  if (curl > 0) {
    const double ratio = ours / curl;
    std::printf("media fetch_100MiB  ours=%.0f MB/s curl-to-file=%.0f MB/s ratio=%.2f (runs=%zu) target>=0.90 %s\n",
                ours, curl, ratio, bench.oursMBs.size(), ratio >= 0.9 ? "met" : "MISSED");
    std::printf("media fetch_100MiB  cpu ours=%.0f ms curl=%.0f ms (medians)\n", bench::Median(bench.oursCpuMs),
                bench::Median(bench.curlCpuMs));
  }
  std::printf("media hundred_identical_fetches  http_requests=%d target=1 %s\n", bench.joinedCount,
              bench.joinedCount == 1 ? "met" : "MISSED");
  std::printf("media peek_cached  median=%.1f us (runs=%zu)\n", bench::Median(bench.peekUs), bench.peekUs.size());
  return 0;
}
