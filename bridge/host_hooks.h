// The hooks the application host installs for the modules, and the little
// host state modules read: quit, show the main window, the window's
// resizing and caption theme, the window's visibility, and whether the
// product fonts were found. Modules see the application only through this
// header; app/host_state.h keeps what only the application uses.
//
// Threading: the hooks are installed once during start-up, before any module
// exists. `RequestQuit` and `ShowMainWindow` may be called from any thread
// (they only post to the UI thread); `ApplyWindowResizable` and
// `ApplyCaptionTheme` must be called on the UI thread. A caller first checks
// that the hook is set: the Call* functions return false when it is not.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace VirelantDesktop {

struct HostHookFunctions {
  std::function<void()> requestQuit;
  std::function<void()> showMainWindow;
  std::function<void(bool resizable)> applyWindowResizable;
  std::function<void(bool dark)> applyCaptionTheme;  // only with the custom title bar
};

class HostHooks {
 public:
  // The process's hooks.
  static HostHooks& Get();

  void Install(HostHookFunctions hooks);
  bool CallRequestQuit() const;
  bool CallShowMainWindow() const;
  bool CallApplyWindowResizable(bool resizable) const;
  bool CallApplyCaptionTheme(bool dark) const;

  // The window's visible value for JavaScript: the window logic reports each
  // change; the module that sends "Shell.windowVisibility" listens.
  void SetVisibilityListener(std::function<void(bool visible)> listener);
  void NotifyVisibility(bool visible) const;
  // Reads the window's visibility afresh and reports it even when unchanged
  // (UI thread). Installed by the window while it exists; without it
  // RefreshVisibility does nothing.
  void SetVisibilityRefresher(std::function<void()> refresher);
  void RefreshVisibility() const;

  // Both product font families were found at start-up.
  bool FontsLoaded() const noexcept { return fontsLoaded_.load(std::memory_order_acquire); }
  void SetFontsLoaded(bool loaded) noexcept { fontsLoaded_.store(loaded, std::memory_order_release); }

 private:
  template <class Hook>
  Hook Copy(Hook HostHookFunctions::*member) const {
    std::lock_guard lock(mutex_);
    return hooks_.*member;
  }

  std::atomic<bool> fontsLoaded_{false};
  // Hooks run outside this lock: they may post, stop the engine or re-enter.
  mutable std::mutex mutex_;  // guards hooks_, visibilityListener_, visibilityRefresher_
  HostHookFunctions hooks_;
  std::function<void(bool)> visibilityListener_;
  std::function<void()> visibilityRefresher_;
};

}  // namespace VirelantDesktop
