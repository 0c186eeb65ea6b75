#include "bridge/host_hooks.h"

namespace VirelantDesktop {

HostHooks& HostHooks::Get() {
  static HostHooks hooks;
  return hooks;
}

void HostHooks::Install(HostHookFunctions hooks) {
  std::lock_guard lock(mutex_);
  hooks_ = std::move(hooks);
}

bool HostHooks::CallRequestQuit() const {
  auto hook = Copy(&HostHookFunctions::requestQuit);
  if (!hook) return false;
  hook();
  return true;
}

bool HostHooks::CallShowMainWindow() const {
  auto hook = Copy(&HostHookFunctions::showMainWindow);
  if (!hook) return false;
  hook();
  return true;
}

bool HostHooks::CallApplyWindowResizable(bool resizable) const {
  auto hook = Copy(&HostHookFunctions::applyWindowResizable);
  if (!hook) return false;
  hook(resizable);
  return true;
}

bool HostHooks::CallApplyCaptionTheme(bool dark) const {
  auto hook = Copy(&HostHookFunctions::applyCaptionTheme);
  if (!hook) return false;
  hook(dark);
  return true;
}

void HostHooks::SetVisibilityListener(std::function<void(bool visible)> listener) {
  std::lock_guard lock(mutex_);
  visibilityListener_ = std::move(listener);
}

void HostHooks::SetVisibilityRefresher(std::function<void()> refresher) {
  std::lock_guard lock(mutex_);
  visibilityRefresher_ = std::move(refresher);
}

void HostHooks::RefreshVisibility() const {
  std::function<void()> refresher;
  {
    std::lock_guard lock(mutex_);
    refresher = visibilityRefresher_;
  }
  if (refresher) refresher();
}

void HostHooks::NotifyVisibility(bool visible) const {
  std::function<void(bool)> listener;
  {
    std::lock_guard lock(mutex_);
    listener = visibilityListener_;
  }
  if (listener) listener(visible);
}

}  // namespace VirelantDesktop
