// One sign-in flow's loopback listener: a single-use HTTP server on
// 127.0.0.1 that waits for the browser's redirect, answers it with the
// result page, records the flow's outcome exactly once and stops; it also
// stops at its deadline (300 s) and when cancelled.
//
// Threads: the caller's (start, cancel), one server thread per flow, and at
// most 8 connection threads per flow, each holding the flow alive.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "modules/auth/loopback_http.h"
#include "platform/unique_fd.h"

namespace VirelantDesktop::authlb {

inline constexpr int kListenBacklog = 16;
inline constexpr int kMaxConnectionThreads = 8;
inline constexpr std::chrono::milliseconds kFlowLifetime{300000};
inline constexpr std::chrono::milliseconds kAcceptPoll{100};
inline constexpr std::chrono::milliseconds kHeaderDeadline{10000};
inline constexpr size_t kReceiveChunk = 2048;
inline constexpr size_t kRequestCap = 8192;
inline constexpr std::chrono::milliseconds kCancelWait{2000};

class Flow : public std::enable_shared_from_this<Flow> {
 public:
  // `lifetime`: the flow times out this long after creation (300 s; tests
  // pass less).
  Flow(std::string state, std::string codeVerifier, std::string codeChallenge, bool requireState,
       std::chrono::milliseconds lifetime = kFlowLifetime);
  Flow(const Flow&) = delete;
  Flow& operator=(const Flow&) = delete;

  uint16_t port() const noexcept { return port_; }
  const std::string& state() const noexcept { return state_; }
  const std::string& codeVerifier() const noexcept { return codeVerifier_; }
  const std::string& codeChallenge() const noexcept { return codeChallenge_; }
  bool requireState() const noexcept { return requireState_; }

  // Set before the listener starts; called without arguments on a
  // connection thread when an accepted redirect is not a cancellation.
  std::function<void()> onCallback;
  // Set before the listener starts; called once on the server thread with
  // the final outcome.
  std::function<void(const Outcome&)> onComplete;

  // The most connection threads that ran at once (for measurements).
  int PeakHandlers() const noexcept { return peakHandlers_.load(); }
  // The outcome once final.
  bool FinalOutcome(Outcome& outcome) const;

 private:
  friend bool StartListener(const std::shared_ptr<Flow>& flow);
  friend bool CompleteOutcome(Flow& flow, Outcome outcome);
  friend void CancelFlow(Flow& flow);
  void ServerLoop();
  void HandleConnection(platform::UniqueFd connection);
  // Claims the one answer with the result page and records `outcome` with
  // it; false when the flow already has an outcome or an answer.
  bool ClaimAnswer(const Outcome& outcome);

  const std::string state_;
  const std::string codeVerifier_;
  const std::string codeChallenge_;
  const bool requireState_;
  const std::chrono::steady_clock::time_point deadline_;
  uint16_t port_ = 0;
  platform::UniqueFd listenSocket_;  // the server thread's once started
  std::atomic<int> activeHandlers_{0};
  std::atomic<int> peakHandlers_{0};

  mutable std::mutex lock_;  // guards outcomeSet_, serverDone_, responseClaimed_, outcome_
  std::condition_variable finished_;
  bool outcomeSet_ = false;
  bool serverDone_ = false;
  bool responseClaimed_ = false;
  Outcome outcome_;
};

// Opens the listener and starts the server thread; false when a socket step
// or the thread fails.
bool StartListener(const std::shared_ptr<Flow>& flow);
// Records `outcome` unless the flow already has one; true when it did.
bool CompleteOutcome(Flow& flow, Outcome outcome);
// Records Canceled (unless final) and waits up to 2 s for the server loop.
void CancelFlow(Flow& flow);

}  // namespace VirelantDesktop::authlb
