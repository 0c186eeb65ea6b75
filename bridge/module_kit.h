// The small set of helpers every module uses, so the modules read alike:
// the choice of thread (worker, UI dispatcher), settling with a module code,
// and the module's event slot.
#pragma once

#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "bridge/js_value.h"
#include "bridge/react_context.h"
#include "bridge/react_promise.h"

namespace VirelantDesktop {

// Starts `work` on a detached thread. Returns false, without running it, when
// the thread could not be started. `hold` keeps the host alive until the
// thread ends. Exceptions never leave the thread (see RunOnWorker).
bool StartDetachedThread(std::function<void()> work, KeepAliveToken hold) noexcept;

// Runs `work(promise)` on a detached worker thread that owns the promise.
// When the thread cannot be started, or `work` throws, the promise rejects
// with `failCode` (as code and message). A worker that returns without
// settling leaves the promise to reject as "Promise destroyed.".
template <class T, class Work>
void RunOnWorker(ReactPromise<T> promise, const std::string& failCode, Work&& work) noexcept {
  KeepAliveToken hold = promise.KeepAlive();
  bool started = false;
  try {
    started = StartDetachedThread(
        [promise, failCode, work = std::forward<Work>(work)]() mutable {
          try {
            work(promise);
          } catch (...) {
            promise.Reject(failCode);
          }
        },
        std::move(hold));
  } catch (...) {  // copying the closure failed
  }
  if (!started) promise.Reject(failCode);
}

// Runs `action` on the UI thread through the context's dispatcher, or at once
// on the calling thread when the context has none.
void RunOnUI(const ReactContext& context, std::function<void()> action) noexcept;

// A module's stored ReactContext, set by its initializer and read by any
// thread that sends the module's events.
class ModuleEventSlot {
 public:
  void Store(const ReactContext& context) noexcept;
  ReactContext Get() const noexcept;
  bool HasContext() const noexcept { return static_cast<bool>(Get()); }

 private:
  mutable std::mutex mutex_;  // guards context_
  ReactContext context_;
};

// Sends `eventName` ("Module.word") with `payload` through the emitter
// "RCTDeviceEventEmitter": the context is copied under the slot's lock, and
// the event is dropped silently when the module was never initialised.
void EmitModuleEvent(const ModuleEventSlot& slot, std::string_view eventName, JSValue payload) noexcept;

}  // namespace VirelantDesktop
