#include "bridge/module_kit.h"

#include "bridge/module_table.h"

namespace VirelantDesktop {

bool StartDetachedThread(std::function<void()> work, KeepAliveToken hold) noexcept {
  try {
    std::thread([work = std::move(work), hold = std::move(hold)]() mutable {
      try {
        work();
      } catch (...) {
        // Work that wants to report failures settles its promise itself;
        // nothing may cross the thread's edge.
      }
      work = nullptr;  // destroy captured promises before the hold goes
      hold.Release();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (...) {
    return false;
  }
}

void RunOnUI(const ReactContext& context, std::function<void()> action) noexcept {
  if (auto dispatcher = context.GetUIDispatcher()) {
    dispatcher->Post(std::move(action));
    return;
  }
  try {
    action();
  } catch (...) {
  }
}

void ModuleEventSlot::Store(const ReactContext& context) noexcept {
  std::lock_guard lock(mutex_);
  context_ = context;
}

ReactContext ModuleEventSlot::Get() const noexcept {
  std::lock_guard lock(mutex_);
  return context_;
}

void EmitModuleEvent(const ModuleEventSlot& slot, std::string_view eventName, JSValue payload) noexcept {
  ReactContext context = slot.Get();
  if (!context) return;
  context.EmitJSEvent(kEventEmitterName, eventName, std::move(payload));
}

}  // namespace VirelantDesktop
