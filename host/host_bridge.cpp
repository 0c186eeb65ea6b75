#include "host/host_bridge.h"

#include <string>

#include "host/js_runtime.h"

namespace VirelantDesktop::host {
namespace {

class HostUIDispatcher final : public UIDispatcher {
 public:
  explicit HostUIDispatcher(std::weak_ptr<HostCore> core) : core_(std::move(core)) {}

  void Post(std::function<void()> action) noexcept override {
    if (auto core = core_.lock()) core->PostUi(std::move(action));
  }

 private:
  std::weak_ptr<HostCore> core_;
};

class HostContextBackend final : public ReactContextBackend {
 public:
  explicit HostContextBackend(const std::shared_ptr<HostCore>& core)
      : core_(core), dispatcher_(std::make_shared<HostUIDispatcher>(core)) {}

  void EmitJSEvent(std::string_view emitterName, std::string_view eventName, JSValue payload) noexcept override {
    EmitJSEventHeld(emitterName, eventName, std::move(payload), nullptr);
  }

  void EmitJSEventHeld(std::string_view emitterName, std::string_view eventName, JSValue payload,
                       std::shared_ptr<void> hold) noexcept override {
    auto core = core_.lock();
    if (!core) return;
    try {
      // The hold lives in the task: it goes once the task ran or was dropped.
      core->PostJs([emitter = std::string(emitterName), event = std::string(eventName),
                    payload = std::move(payload), hold = std::move(hold)] {
        if (auto* runtime = JsRuntime::Current()) runtime->EmitEvent(emitter, event, payload);
      });
    } catch (...) {  // out of memory copying the names: the event is lost
    }
  }

  std::shared_ptr<UIDispatcher> GetUIDispatcher() const noexcept override { return dispatcher_; }

  KeepAliveToken KeepAlive() noexcept override {
    auto core = core_.lock();
    if (!core) return {};
    try {
      return core->liveness().Token();
    } catch (...) {
      return {};
    }
  }

 private:
  std::weak_ptr<HostCore> core_;
  std::shared_ptr<HostUIDispatcher> dispatcher_;
};

class HostPromiseSink final : public PromiseSink {
 public:
  HostPromiseSink(const std::shared_ptr<HostCore>& core, uint64_t id)
      : core_(core), id_(id), pending_(core->liveness().Token()) {}

  void Resolve(JSValue value) noexcept override { Deliver(true, std::move(value), {}); }
  void Reject(PromiseError error) noexcept override { Deliver(false, nullptr, std::move(error)); }

  KeepAliveToken KeepAlive() noexcept override {
    auto core = core_.lock();
    if (!core) return {};
    try {
      return core->liveness().Token();
    } catch (...) {
      return {};
    }
  }

 private:
  void Deliver(bool resolved, JSValue value, PromiseError error) noexcept {
    auto core = core_.lock();
    if (!core) return;
    // The hold moves into the task: released once the settle has run on the
    // JS thread, or when the stopped host drops the task.
    try {
      core->PostJs([id = id_, resolved, value = std::move(value), error = std::move(error),
                    hold = std::move(pending_)] {
        if (auto* runtime = JsRuntime::Current()) runtime->SettlePromise(id, resolved, value, error);
      });
    } catch (...) {
    }
  }

  std::weak_ptr<HostCore> core_;
  uint64_t id_;
  KeepAliveToken pending_;
};

}  // namespace

ReactContext MakeHostReactContext(const std::shared_ptr<HostCore>& core) {
  return ReactContext(std::make_shared<HostContextBackend>(core));
}

std::unique_ptr<PromiseSink> MakeHostPromiseSink(const std::shared_ptr<HostCore>& core, uint64_t id) {
  return std::make_unique<HostPromiseSink>(core, id);
}

}  // namespace VirelantDesktop::host
