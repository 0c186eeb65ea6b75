// The handle through which an asynchronous module method completes.
//
// A promise is pending, resolved or rejected. The first settle moves it out
// of pending with an atomic compare-and-exchange; every later resolve or
// reject is ignored. It may be settled from any thread: the sink behind it
// (the host, or a test probe) carries the outcome to the JavaScript thread.
// When the last copy of a handle is destroyed while still pending, it rejects
// itself with "EUNSPECIFIED" / "Promise destroyed." / null user info.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "bridge/js_value.h"
#include "bridge/keep_alive.h"
#include "bridge/promise_error.h"

namespace VirelantDesktop {

// Receives the one outcome of a promise. Exactly one of Resolve or Reject is
// called, at most once, on whichever thread settled the promise.
class PromiseSink {
 public:
  virtual ~PromiseSink() = default;
  virtual void Resolve(JSValue value) noexcept = 0;
  virtual void Reject(PromiseError error) noexcept = 0;
  // A hold on the host while work for this promise continues elsewhere.
  virtual KeepAliveToken KeepAlive() noexcept { return {}; }
};

enum class PromiseStatus { Pending, Resolved, Rejected };

// The state shared by all copies of one promise handle.
class PromiseState {
 public:
  explicit PromiseState(std::unique_ptr<PromiseSink> sink) noexcept : sink_(std::move(sink)) {}
  ~PromiseState();
  PromiseState(const PromiseState&) = delete;
  PromiseState& operator=(const PromiseState&) = delete;

  bool TryResolve(JSValue value) noexcept;
  bool TryReject(PromiseError error) noexcept;
  PromiseStatus Status() const noexcept { return status_.load(std::memory_order_acquire); }
  KeepAliveToken KeepAlive() const noexcept { return sink_ ? sink_->KeepAlive() : KeepAliveToken{}; }

 private:
  bool Claim(PromiseStatus outcome) noexcept;

  std::atomic<PromiseStatus> status_{PromiseStatus::Pending};
  std::unique_ptr<PromiseSink> sink_;
};

using PromiseStatePtr = std::shared_ptr<PromiseState>;

template <class T>
class ReactPromise {
 public:
  using ResultType = T;

  ReactPromise() = default;  // an empty handle: every settle is ignored
  explicit ReactPromise(PromiseStatePtr state) noexcept : state_(std::move(state)) {}

  // Each returns true when this call settled the promise.
  bool Resolve(T value) const noexcept {
    if (!state_) return false;
    try {
      return state_->TryResolve(JSValue(std::move(value)));
    } catch (...) {  // building the JSON value ran out of memory
      return state_->TryReject({kUnspecifiedCode, "out of memory"});
    }
  }
  bool Reject(PromiseError error) const noexcept {
    return state_ && state_->TryReject(std::move(error));
  }
  // Rejects with `code` as both code and message.
  bool Reject(const std::string& code) const noexcept { return Reject(code, code); }
  bool Reject(const std::string& code, const std::string& message) const noexcept {
    try {
      return Reject(PromiseError{code, message});
    } catch (...) {
      return state_ && state_->TryReject({});
    }
  }

  bool IsPending() const noexcept { return state_ && state_->Status() == PromiseStatus::Pending; }
  KeepAliveToken KeepAlive() const noexcept { return state_ ? state_->KeepAlive() : KeepAliveToken{}; }
  const PromiseStatePtr& State() const noexcept { return state_; }

 private:
  PromiseStatePtr state_;
};

}  // namespace VirelantDesktop
