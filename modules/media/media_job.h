// One download in flight and the controls other threads have over it: the
// stop reason (set once), the operation in progress that a stop interrupts,
// the watchdog that enforces the time-outs, and the progress throttle.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/js_value.h"
#include "bridge/react_promise.h"
#include "modules/media/fetch_rules.h"
#include "modules/media/media_state.h"

namespace VirelantDesktop::media {

// Something in progress a stop can interrupt (a transfer, a read).
class InterruptibleOperation {
 public:
  virtual ~InterruptibleOperation() = default;
  virtual void Cancel() noexcept = 0;
};

// A caller waiting for a download's result.
struct Waiter {
  std::string requestId;
  ReactPromise<JSValue> promise;
};

struct Job {
  // Set when the job is made; never changed afterwards.
  std::string key;       // its DedupKey in State::inFlight
  std::string scopeKey;  // ScopeKey of the request
  uint32_t generation = 0;       // State::generation when it started
  uint64_t scopeGeneration = 0;  // State::scopeGenerations[scopeKey] when it started

  std::vector<Waiter> waiters;  // guarded by State::stateLock; the first one started the job

  std::atomic<uint32_t> status{0};  // JobStatus; moves from Running once

  std::mutex mutex;  // guards current, done, headersReceived
  std::condition_variable changed;  // the watchdog waits on it
  std::shared_ptr<InterruptibleOperation> current;
  bool done = false;
  bool headersReceived = false;

  JobStatus Status() const noexcept { return static_cast<JobStatus>(status.load()); }
};

// Records `reason` unless the job already stopped, interrupts the operation
// in progress and wakes the watchdog.
void AbortJob(Job& job, JobStatus reason);
// Makes `operation` the one in progress; when the job has already stopped it
// is interrupted at once, so a stop that raced with its start is not lost.
void SetCurrentOperation(Job& job, std::shared_ptr<InterruptibleOperation> operation);
void MarkHeadersReceived(Job& job);
// The job settled: nothing is in progress any more; the watchdog ends.
void MarkJobDone(Job& job);

// The watchdog's limits: headers within `headerLimit`, the whole transfer
// within `total` counted from the start (checked once headers arrived or the
// header limit passed). Stops the job with Timeout when either is broken.
// Blocks until the job is done or stopped.
void RunWatchdog(Job& job, std::chrono::milliseconds total,
                 std::chrono::milliseconds headerLimit = std::chrono::seconds(15));

// At most one progress report per 250 ms; the first chunk is always
// reported (the last report counts as one second before the start).
class ProgressThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ProgressThrottle(Clock::time_point start = Clock::now()) : last_(start - std::chrono::seconds(1)) {}
  bool ShouldReport(Clock::time_point now = Clock::now());

 private:
  Clock::time_point last_;
};

}  // namespace VirelantDesktop::media
