// The shell host's process-wide state and the hooks other subsystems call.
// This is the one header of app/ that modules may include.
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

struct HostHooks {
  std::function<void()> requestQuit;
  std::function<void()> showMainWindow;
  std::function<void(bool resizable)> applyWindowResizable;
  std::function<void(bool dark)> applyCaptionTheme;  // only with the custom title bar
};

class HostState {
 public:
  static HostState& Get();

  // The platform's main window (opaque); null until the window exists, then
  // never cleared.
  void* MainWindow() const noexcept { return mainWindow_.load(std::memory_order_acquire); }
  void SetMainWindow(void* window) noexcept { mainWindow_.store(window, std::memory_order_release); }

  // Both product font families were found at start-up.
  bool FontsLoaded() const noexcept { return fontsLoaded_.load(std::memory_order_acquire); }
  void SetFontsLoaded(bool loaded) noexcept { fontsLoaded_.store(loaded, std::memory_order_release); }

  // Set by the quit paths; never cleared. True for the caller that set it.
  bool SetQuitting() noexcept { return !quitting_.exchange(true, std::memory_order_acq_rel); }
  bool IsQuitting() const noexcept { return quitting_.load(std::memory_order_acquire); }

  void InstallHooks(HostHooks hooks);
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

 private:
  template <class Hook>
  Hook Copy(Hook HostHooks::*member) const {
    std::lock_guard lock(hooksMutex_);
    return hooks_.*member;
  }

  std::atomic<void*> mainWindow_{nullptr};
  std::atomic<bool> fontsLoaded_{false};
  std::atomic<bool> quitting_{false};
  mutable std::mutex hooksMutex_;  // guards hooks_ (installed at start-up, read from any thread)
  HostHooks hooks_;
  std::function<void(bool)> visibilityListener_;  // guarded by hooksMutex_
  std::function<void()> visibilityRefresher_;     // guarded by hooksMutex_
};

}  // namespace VirelantDesktop
