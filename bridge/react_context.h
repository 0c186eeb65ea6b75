// What a module's initializer receives: event emission and the UI dispatcher.
//
// A `ReactContext` is a cheap, copyable handle. Events may be sent from any
// thread; the host queues them to the JavaScript thread in the order sent.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "bridge/js_value.h"
#include "bridge/keep_alive.h"

namespace VirelantDesktop {

// Runs closures on the UI thread, in the order posted. Thread-safe.
class UIDispatcher {
 public:
  virtual ~UIDispatcher() = default;
  virtual void Post(std::function<void()> action) noexcept = 0;
};

// The host's side of a context (the test fake implements it too).
class ReactContextBackend {
 public:
  virtual ~ReactContextBackend() = default;
  // JavaScript receives a call of `emit(eventName, payload)` on the emitter.
  virtual void EmitJSEvent(std::string_view emitterName, std::string_view eventName,
                           JSValue payload) noexcept = 0;
  // As EmitJSEvent; `hold` is kept until the listeners ran on the JavaScript
  // thread or the event was dropped, so that a producer can tell how far
  // JavaScript is behind it. Backends without a queue let go of it at once.
  virtual void EmitJSEventHeld(std::string_view emitterName, std::string_view eventName, JSValue payload,
                               std::shared_ptr<void> hold) noexcept {
    EmitJSEvent(emitterName, eventName, std::move(payload));
    hold.reset();
  }
  // Null when the host has no UI thread to offer.
  virtual std::shared_ptr<UIDispatcher> GetUIDispatcher() const noexcept = 0;
  virtual KeepAliveToken KeepAlive() noexcept { return {}; }
};

class ReactContext {
 public:
  ReactContext() = default;  // no context: events are dropped
  explicit ReactContext(std::shared_ptr<ReactContextBackend> backend) noexcept
      : backend_(std::move(backend)) {}

  explicit operator bool() const noexcept { return backend_ != nullptr; }

  void EmitJSEvent(std::string_view emitterName, std::string_view eventName, JSValue payload) const noexcept {
    if (backend_) backend_->EmitJSEvent(emitterName, eventName, std::move(payload));
  }
  void EmitJSEventHeld(std::string_view emitterName, std::string_view eventName, JSValue payload,
                       std::shared_ptr<void> hold) const noexcept {
    if (backend_) backend_->EmitJSEventHeld(emitterName, eventName, std::move(payload), std::move(hold));
  }
  std::shared_ptr<UIDispatcher> GetUIDispatcher() const noexcept {
    return backend_ ? backend_->GetUIDispatcher() : nullptr;
  }
  KeepAliveToken KeepAlive() const noexcept { return backend_ ? backend_->KeepAlive() : KeepAliveToken{}; }

 private:
  std::shared_ptr<ReactContextBackend> backend_;
};

}  // namespace VirelantDesktop
