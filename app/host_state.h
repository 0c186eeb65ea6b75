// The shell host's process-wide state that only the application uses: the
// main window and the quitting flag. The hooks modules call live in
// bridge/host_hooks.h.
#pragma once

#include <atomic>

namespace VirelantDesktop {

class HostState {
 public:
  static HostState& Get();

  // The platform's main window (opaque); null until the window exists.
  void* MainWindow() const noexcept { return mainWindow_.load(std::memory_order_acquire); }
  void SetMainWindow(void* window) noexcept { mainWindow_.store(window, std::memory_order_release); }

  // Set by the quit paths; never cleared. True for the caller that set it.
  bool SetQuitting() noexcept { return !quitting_.exchange(true, std::memory_order_acq_rel); }
  bool IsQuitting() const noexcept { return quitting_.load(std::memory_order_acquire); }

 private:
  std::atomic<void*> mainWindow_{nullptr};
  std::atomic<bool> quitting_{false};
};

}  // namespace VirelantDesktop
