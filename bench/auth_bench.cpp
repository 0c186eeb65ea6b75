// The sign-in loopback listener over real loopback sockets, in-process.
//
//   valid_redirect  a new Flow per run (state required, 43-character state);
//                   one client connects, sends
//                   "GET /?code=c&state=<state> HTTP/1.1" with
//                   "Host: 127.0.0.1:<port>", ends its sending side and reads
//                   the answer until the listener closes: time from just
//                   before the connect to onComplete (the outcome delivered).
//                   The time until the client had read the whole page is
//                   printed beside it.
//   hostile_burst   a new Flow per run; 16 client threads open 1,000
//                   connections against it, one at a time each, every thread
//                   alternating between two kinds: half connect, stay silent
//                   for 20 ms and close (a slow local client holding a
//                   connection thread); the other half send a
//                   request the listener must refuse (wrong state, no state,
//                   another path, a foreign Host, POST, binary garbage, 8 KiB
//                   of headers that never end), end their sending side and
//                   read until the listener closes. As soon as the 1,000th
//                   connection is open (the last silent ones still hold
//                   theirs), the valid redirect above is sent; when it is
//                   closed without an answer (all 8 connection threads busy)
//                   it is sent again at once on a new connection, and the
//                   retries are counted (a browser would show the user an
//                   error page for each). Figures: the flow's PeakHandlers()
//                   (must stay at most 8) and the time from the burst's start
//                   to onComplete of the valid redirect's outcome. Any refused
//                   request answered with anything but the 404, or a burst
//                   request that changes the outcome, fails the run.
//   redirect_mid_burst  the same burst, with the valid redirect sent as soon
//                   as 500 connections are open, while the 16 threads keep
//                   going: how often a browser's redirect arriving during
//                   such a burst is closed unanswered, and the delay to the
//                   outcome. (The burst's remaining connections then meet a
//                   closed listener.)
//
// After the table it prints one "auth ..." line per figure. Repetitions: 50
// and 10 each unless --benchmark_repetitions says. Each run waits for the flow's
// threads to let go of it before the next starts.
//
//   build/default/bench/auth_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "modules/auth/loopback_flow.h"
#include "modules/auth/loopback_http.h"
#include "platform/loopback_socket.h"
#include "platform/process_setup.h"

namespace {

using namespace VirelantDesktop;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kBurstConnections = 1000;
constexpr int kBurstThreads = 16;
constexpr auto kIdleHold = 20ms;
constexpr int kAnswerWaitMs = 5000;
constexpr auto kOutcomeWait = 15s;
// A connection thread ends at its peer's close or at its 10 s header
// deadline; the server thread right after onComplete.
constexpr auto kReleaseWait = 15s;
constexpr int kMaxRetries = 100000;

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// A state of the generator's length, different for every flow.
std::string StateFor(uint64_t run) {
  std::string state = "st" + std::to_string(run) + "-";
  state.resize(43, 'Q');
  return state;
}

std::string HostHeader(uint16_t port, std::string_view name = "127.0.0.1") {
  return "Host: " + std::string(name) + ":" + std::to_string(port) + "\r\n";
}

std::string ValidRequest(const std::string& state, uint16_t port) {
  return "GET /?code=c&state=" + state + " HTTP/1.1\r\n" + HostHeader(port) + "\r\n";
}

bool IsPage(const std::string& answer) { return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0; }

std::string FirstLine(const std::string& answer) {
  if (answer.empty()) return "(nothing)";
  return answer.substr(0, std::min(answer.find("\r\n"), size_t{80}));
}

// ---- the outcome as the flow delivers it ----------------------------------------------

struct Completion {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  Clock::time_point at;
  authlb::Outcome outcome;
};

std::shared_ptr<authlb::Flow> StartFlow(const std::string& state, const std::shared_ptr<Completion>& completion) {
  auto flow = std::make_shared<authlb::Flow>(state, "verifier", "challenge", /*requireState=*/true);
  flow->onComplete = [completion](const authlb::Outcome& outcome) {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(completion->mutex);
    completion->done = true;
    completion->at = now;
    completion->outcome = outcome;
    completion->changed.notify_all();
  };
  if (!authlb::StartListener(flow)) return nullptr;
  return flow;
}

// Waits for onComplete and checks that the outcome is the valid redirect's.
// Empty when it is.
std::string AwaitRedirectOutcome(Completion& completion) {
  std::unique_lock lock(completion.mutex);
  if (!completion.changed.wait_for(lock, kOutcomeWait, [&] { return completion.done; })) {
    return "no outcome within 15 s";
  }
  const authlb::Outcome& outcome = completion.outcome;
  if (outcome.status != authlb::OutcomeStatus::Ok || outcome.kind != "code" || outcome.value != "c" ||
      !outcome.stateVerified || outcome.codeVerifier != "verifier") {
    return "unexpected outcome: status " + std::to_string(static_cast<int>(outcome.status)) + " kind '" +
           outcome.kind + "' value '" + outcome.value + "' error '" + outcome.error + "'";
  }
  return {};
}

// Until the server and connection threads have let go of `flow` (each holds
// a reference while it runs). False when some still hold it.
bool AwaitRelease(const std::shared_ptr<authlb::Flow>& flow) {
  const Clock::time_point deadline = Clock::now() + kReleaseWait;
  while (flow.use_count() > 1) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// ---- one client exchange ---------------------------------------------------------------

struct Exchange {
  bool connected = false;
  std::string answer;  // empty: closed (or reset) without an answer
  Clock::time_point answeredAt;
};

// Reads until the peer closes, resets, or stays silent for kAnswerWaitMs.
std::string ReadAnswer(const platform::UniqueFd& socket) {
  std::string answer;
  char buffer[4096];
  long n;
  while ((n = platform::ReceiveSome(socket, buffer, sizeof buffer, kAnswerWaitMs)) > 0) {
    answer.append(buffer, static_cast<size_t>(n));
  }
  return answer;
}

Exchange SendRequest(uint16_t port, std::string_view request) {
  Exchange result;
  const platform::UniqueFd socket = platform::ConnectToLoopback(port);
  if (!socket) return result;
  result.connected = true;
  platform::SendAll(socket, request);
  platform::ShutdownSending(socket);
  result.answer = ReadAnswer(socket);
  result.answeredAt = Clock::now();
  return result;
}

// ---- valid_redirect --------------------------------------------------------------------

std::vector<double> g_validMs;
std::vector<double> g_validPageMs;
uint64_t g_flows = 0;

void BM_ValidRedirect(benchmark::State& state) {
  for (auto _ : state) {
    const auto completion = std::make_shared<Completion>();
    const std::string flowState = StateFor(g_flows++);
    const std::shared_ptr<authlb::Flow> flow = StartFlow(flowState, completion);
    if (!flow) {
      state.SkipWithError("StartListener failed");
      break;
    }
    const std::string request = ValidRequest(flowState, flow->port());
    const Clock::time_point start = Clock::now();
    const Exchange exchange = SendRequest(flow->port(), request);
    std::string error;
    if (!exchange.connected) {
      error = "cannot connect to the listener";
    } else if (!IsPage(exchange.answer)) {
      error = "the valid redirect was answered with " + FirstLine(exchange.answer);
    }
    const std::string outcomeError = AwaitRedirectOutcome(*completion);
    if (error.empty()) error = outcomeError;
    if (!AwaitRelease(flow) && error.empty()) error = "the flow's threads still run 15 s after its outcome";
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    const double ms = MsBetween(start, completion->at);
    state.SetIterationTime(ms / 1000.0);
    state.counters["page_ms"] = MsBetween(start, exchange.answeredAt);
    g_validMs.push_back(ms);
    g_validPageMs.push_back(MsBetween(start, exchange.answeredAt));
  }
}

// ---- hostile_burst ---------------------------------------------------------------------

// The refused requests, taken in turn by the odd connections.
std::vector<std::string> BadRequests(uint16_t port) {
  const std::string host = HostHeader(port);
  std::string endless = "GET / HTTP/1.1\r\n" + host + "X-Filler: ";
  endless.resize(authlb::kRequestCap, 'f');  // all of it read before the cap ends the wait
  std::string garbage;
  for (int i = 0; i < 64; ++i) garbage.push_back(static_cast<char>(i * 37 + 11));
  return {
      "GET /?code=c&state=" + std::string(43, 't') + " HTTP/1.1\r\n" + host + "\r\n",
      "GET /?code=c HTTP/1.1\r\n" + host + "\r\n",
      "GET /favicon.ico HTTP/1.1\r\n" + host + "Accept: image/*\r\n\r\n",
      "GET /?code=c&state=x HTTP/1.1\r\n" + HostHeader(port, "attacker.example") + "\r\n",
      "POST /?code=c HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n",
      garbage,
      endless,
  };
}

struct BurstTally {
  std::atomic<int> opened{0};  // connect calls returned, failed ones included
  std::atomic<uint64_t> answered404{0};
  std::atomic<uint64_t> unanswered{0};
  std::atomic<uint64_t> unexpected{0};
  std::atomic<uint64_t> connectFailed{0};
  std::atomic<int64_t> slowestConnectUs{0};
  std::mutex mutex;
  std::string firstUnexpected;
};

void BurstClient(int first, uint16_t port, const std::vector<std::string>& bad, std::latch& go, BurstTally& tally) {
  go.arrive_and_wait();
  for (int index = first; index < kBurstConnections; index += kBurstThreads) {
    const Clock::time_point before = Clock::now();
    platform::UniqueFd socket = platform::ConnectToLoopback(port);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
    int64_t slowest = tally.slowestConnectUs.load();
    while (us > slowest && !tally.slowestConnectUs.compare_exchange_weak(slowest, us)) {
    }
    tally.opened.fetch_add(1);
    if (!socket) {
      tally.connectFailed.fetch_add(1);
      continue;
    }
    // Every thread alternates, so that half of them hold a silent
    // connection at any time.
    if ((index / kBurstThreads + index) % 2 == 0) {
      std::this_thread::sleep_for(kIdleHold);
      continue;  // closed without a word
    }
    platform::SendAll(socket, bad[static_cast<size_t>(index) % bad.size()]);
    platform::ShutdownSending(socket);
    const std::string answer = ReadAnswer(socket);
    if (answer == authlb::kNotFoundAnswer) {
      tally.answered404.fetch_add(1);
    } else if (answer.empty()) {
      tally.unanswered.fetch_add(1);
    } else {
      tally.unexpected.fetch_add(1);
      std::lock_guard lock(tally.mutex);
      if (tally.firstUnexpected.empty()) {
        tally.firstUnexpected = "request " + std::to_string(index) + " answered with " + FirstLine(answer);
      }
    }
  }
}

struct BurstRun {
  double toOutcomeMs = 0;
  double sentAtMs = 0;  // burst start to the valid redirect's first connect
  int peakHandlers = 0;
  uint64_t retries = 0;
  uint64_t answered404 = 0, unanswered = 0, connectFailed = 0;
  double slowestConnectMs = 0;
};
std::vector<BurstRun> g_bursts;     // the valid redirect after the 1,000th connection
std::vector<BurstRun> g_midBursts;  // ... after the 500th

// state.range(0): the count of burst connections opened before the valid
// redirect is sent.
void BM_HostileBurst(benchmark::State& state) {
  const int sendAfter = static_cast<int>(state.range(0));
  std::vector<BurstRun>& runs = sendAfter >= kBurstConnections ? g_bursts : g_midBursts;
  for (auto _ : state) {
    const auto completion = std::make_shared<Completion>();
    const std::string flowState = StateFor(g_flows++);
    const std::shared_ptr<authlb::Flow> flow = StartFlow(flowState, completion);
    if (!flow) {
      state.SkipWithError("StartListener failed");
      break;
    }
    const uint16_t port = flow->port();
    const std::vector<std::string> bad = BadRequests(port);
    BurstTally tally;
    std::latch go(kBurstThreads + 1);
    std::vector<std::thread> clients;
    for (int t = 0; t < kBurstThreads; ++t) {
      clients.emplace_back(BurstClient, t, port, std::cref(bad), std::ref(go), std::ref(tally));
    }
    go.arrive_and_wait();
    const Clock::time_point start = Clock::now();
    while (tally.opened.load() < sendAfter) std::this_thread::sleep_for(50us);
    BurstRun run;
    run.sentAtMs = MsBetween(start, Clock::now());

    std::string error;
    const std::string request = ValidRequest(flowState, port);
    for (;;) {
      const Exchange exchange = SendRequest(port, request);
      if (!exchange.connected) {
        error = "the valid redirect cannot connect (after " + std::to_string(run.retries) + " retries)";
        break;
      }
      if (IsPage(exchange.answer)) break;
      if (!exchange.answer.empty()) {
        error = "the valid redirect was answered with " + FirstLine(exchange.answer);
        break;
      }
      if (++run.retries >= kMaxRetries) {
        error = "the valid redirect was closed unanswered " + std::to_string(run.retries) + " times";
        break;
      }
    }
    const std::string outcomeError = AwaitRedirectOutcome(*completion);
    if (error.empty()) error = outcomeError;
    for (std::thread& client : clients) client.join();
    if (!AwaitRelease(flow) && error.empty()) error = "the flow's threads still run 15 s after its outcome";
    if (error.empty() && tally.unexpected.load() != 0) error = tally.firstUnexpected;
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    run.toOutcomeMs = MsBetween(start, completion->at);
    run.peakHandlers = flow->PeakHandlers();
    run.answered404 = tally.answered404.load();
    run.unanswered = tally.unanswered.load();
    run.connectFailed = tally.connectFailed.load();
    run.slowestConnectMs = static_cast<double>(tally.slowestConnectUs.load()) / 1000.0;
    state.SetIterationTime(run.toOutcomeMs / 1000.0);
    state.counters["peak_handlers"] = run.peakHandlers;
    state.counters["retries"] = static_cast<double>(run.retries);
    runs.push_back(run);
  }
}

void Register(bool repetitionsGiven) {
  struct Entry {
    const char* name;
    void (*function)(benchmark::State&);
    int repetitions;
    int64_t arg;
  };
  const Entry entries[] = {
      {"valid_redirect", BM_ValidRedirect, 50, 0},
      {"hostile_burst", BM_HostileBurst, 10, kBurstConnections},
      {"redirect_mid_burst", BM_HostileBurst, 10, kBurstConnections / 2},
  };
  for (const Entry& entry : entries) {
    auto* registered = benchmark::RegisterBenchmark(entry.name, entry.function)
                           ->Arg(entry.arg)
                           ->UseManualTime()
                           ->Unit(benchmark::kMillisecond)
                           ->Iterations(1)
                           ->ReportAggregatesOnly(true);
    if (!repetitionsGiven) registered->Repetitions(entry.repetitions);
  }
}

void PrintMs(const char* name, const std::vector<double>& values, const std::string& note) {
  if (values.empty()) return;
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::printf("auth %-26s median=%.2f ms min=%.2f max=%.2f runs=%zu%s\n", name, bench::Median(values), *low, *high,
              values.size(), note.c_str());
}

// The figures of one burst variant. `sentAfter`: the connections opened
// before the valid redirect was sent.
void PrintBurst(const std::string& prefix, const std::vector<BurstRun>& runs, int sentAfter) {
  if (runs.empty()) return;
  std::vector<double> toOutcome, opened, slowestConnect;
  int peak = 0;
  uint64_t retries = 0, maxRetries = 0, retriedRuns = 0, answered404 = 0, unanswered = 0, connectFailed = 0;
  for (const BurstRun& run : runs) {
    toOutcome.push_back(run.toOutcomeMs);
    opened.push_back(run.sentAtMs);
    slowestConnect.push_back(run.slowestConnectMs);
    peak = std::max(peak, run.peakHandlers);
    retries += run.retries;
    maxRetries = std::max(maxRetries, run.retries);
    retriedRuns += run.retries != 0 ? 1 : 0;
    answered404 += run.answered404;
    unanswered += run.unanswered;
    connectFailed += run.connectFailed;
  }
  const auto name = [&prefix](const char* figure) { return prefix + "_" + figure; };
  std::printf("auth %-26s max=%d limit=%d runs=%zu %s\n", name("peak_handlers").c_str(), peak,
              authlb::kMaxConnectionThreads, runs.size(), peak <= authlb::kMaxConnectionThreads ? "held" : "EXCEEDED");
  char note[192];
  std::snprintf(note, sizeof note,
                " (%d hostile connections from %d threads; valid redirect sent once %d were open, after median=%.2f ms)",
                kBurstConnections, kBurstThreads, sentAfter, bench::Median(opened));
  PrintMs(name("to_outcome").c_str(), toOutcome, note);
  std::vector<double> sentToOutcome;
  for (const BurstRun& run : runs) sentToOutcome.push_back(run.toOutcomeMs - run.sentAtMs);
  PrintMs(name("sent_to_outcome").c_str(), sentToOutcome, " (the valid redirect's first connect to onComplete)");
  std::printf("auth %-26s total=%llu max_in_one_run=%llu runs_with_retries=%llu runs=%zu\n",
              name("valid_retries").c_str(), static_cast<unsigned long long>(retries),
              static_cast<unsigned long long>(maxRetries), static_cast<unsigned long long>(retriedRuns), runs.size());
  if (sentAfter < kBurstConnections) return;  // the rest of that burst meets a closed listener
  const uint64_t sent = answered404 + unanswered;
  std::printf("auth %-26s answered_404=%llu closed_unanswered=%llu of %llu (%.1f%%) connect_failed=%llu "
              "slowest_connect median=%.2f ms max=%.2f\n",
              name("refused_requests").c_str(), static_cast<unsigned long long>(answered404),
              static_cast<unsigned long long>(unanswered), static_cast<unsigned long long>(sent),
              sent != 0 ? 100.0 * static_cast<double>(unanswered) / static_cast<double>(sent) : 0.0,
              static_cast<unsigned long long>(connectFailed), bench::Median(slowestConnect),
              *std::max_element(slowestConnect.begin(), slowestConnect.end()));
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  Register(VirelantDesktop::bench::RepetitionsGiven(argc, argv));
  if (!VirelantDesktop::bench::RunRegisteredBenchmarks(argc, argv)) return 1;

  if (!g_validMs.empty()) {
    char note[96];
    std::snprintf(note, sizeof note, " (connect to onComplete; page read by the client: median=%.2f ms)",
                  bench::Median(g_validPageMs));
    PrintMs("valid_redirect", g_validMs, note);
  }
  PrintBurst("burst", g_bursts, kBurstConnections);
  PrintBurst("mid_burst", g_midBursts, kBurstConnections / 2);
  return 0;
}
