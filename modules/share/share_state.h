// The one pending share request: a newer request settles the older one
// with completed = false, the user's choice completes it with true, and a
// watcher completes it with false once its time is up. Every settlement
// goes through the lock and compares ids, so each request ends exactly
// once, whichever thread gets there first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace VirelantDesktop::share {

inline constexpr std::chrono::seconds kShareTimeout{120};

// How a request ends: completed (true/false), or failed with a code.
struct ShareEnd {
  bool completed = false;
  const char* failure = nullptr;  // "share_unavailable", "share_failed"; null when resolved
};
using ShareSettle = std::function<void(const ShareEnd& end)>;

class ShareState {
 public:
  // Makes `settle` the pending request, settling the one before with
  // completed = false (outside the lock). Returns the new request's id.
  uint64_t Begin(ShareSettle settle);
  // Completes request `id` when it is still the pending one; false when it
  // was settled or replaced before.
  bool Complete(uint64_t id, bool completed);
  // Fails request `id` when it is still pending.
  bool Fail(uint64_t id, const char* code);

  bool Pending() const;
  // Whether request `id` is the pending one.
  bool IsPending(uint64_t id) const;
  // Waits up to `duration`, returning early once request `id` has ended.
  void WaitWhilePending(uint64_t id, std::chrono::steady_clock::duration duration) const;

 private:
  bool End(uint64_t id, const ShareEnd& end);

  mutable std::mutex mutex_;  // guards pending_, shareId_ and settle_
  mutable std::condition_variable ended_;  // signalled when a request ends or is replaced
  bool pending_ = false;
  uint64_t shareId_ = 0;
  ShareSettle settle_;
};

// The clock a watcher reads and the way it waits (injectable for tests).
// Without `sleep` the watcher waits on the state, so it ends as soon as its
// request does.
struct WatcherClock {
  std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
  std::function<void(std::chrono::steady_clock::duration)> sleep;
};

// Waits until `timeout` after its start (early wake-ups wait again), then
// completes request `id` with false; gives up as soon as the request ended
// otherwise. Returns whether it settled the request.
bool RunShareWatcher(ShareState& state, uint64_t id, const WatcherClock& clock = {},
                     std::chrono::steady_clock::duration timeout = kShareTimeout);

}  // namespace VirelantDesktop::share
