#include "app/host_state.h"

namespace VirelantDesktop {

HostState& HostState::Get() {
  static HostState state;
  return state;
}

void HostState::InstallHooks(HostHooks hooks) {
  std::lock_guard lock(hooksMutex_);
  hooks_ = std::move(hooks);
}

// Hooks run outside the lock: they may post, stop the engine or re-enter.
bool HostState::CallRequestQuit() const {
  auto hook = Copy(&HostHooks::requestQuit);
  if (!hook) return false;
  hook();
  return true;
}

bool HostState::CallShowMainWindow() const {
  auto hook = Copy(&HostHooks::showMainWindow);
  if (!hook) return false;
  hook();
  return true;
}

bool HostState::CallApplyWindowResizable(bool resizable) const {
  auto hook = Copy(&HostHooks::applyWindowResizable);
  if (!hook) return false;
  hook(resizable);
  return true;
}

bool HostState::CallApplyCaptionTheme(bool dark) const {
  auto hook = Copy(&HostHooks::applyCaptionTheme);
  if (!hook) return false;
  hook(dark);
  return true;
}

void HostState::SetVisibilityListener(std::function<void(bool visible)> listener) {
  std::lock_guard lock(hooksMutex_);
  visibilityListener_ = std::move(listener);
}

void HostState::SetVisibilityRefresher(std::function<void()> refresher) {
  std::lock_guard lock(hooksMutex_);
  visibilityRefresher_ = std::move(refresher);
}

void HostState::RefreshVisibility() const {
  std::function<void()> refresher;
  {
    std::lock_guard lock(hooksMutex_);
    refresher = visibilityRefresher_;
  }
  if (refresher) refresher();
}

void HostState::NotifyVisibility(bool visible) const {
  std::function<void(bool)> listener;
  {
    std::lock_guard lock(hooksMutex_);
    listener = visibilityListener_;
  }
  if (listener) listener(visible);
}

}  // namespace VirelantDesktop
