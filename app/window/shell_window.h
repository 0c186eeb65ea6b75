// The main window of the running shell: ties the platform window, the tray
// icon and the session monitor to the window logic, the size rules and the
// title bar, installs the host hooks and runs the quit sequence.
//
//   ShellWindow window(std::move(deps));
//   window.Prepare();        // title, hooks, icons, size, tray, session
//   window.Show();           // just before the UI loop runs
//   ... host.Start() ...
//
// Lives on the UI thread. RequestQuit and ShowMainWindow may be called from
// any thread: they post to the UI thread's queue. The quit worker runs on a
// detached thread of its own and only posts, stops the engine and releases
// the instance lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/host_state.h"
#include "app/window/title_bar.h"
#include "app/window/window_logic.h"
#include "app/window/window_sizing.h"
#include "bridge/host_hooks.h"
#include "platform/main_window.h"
#include "platform/session_monitor.h"
#include "platform/tray.h"

namespace VirelantDesktop::host {
class LoopTaskQueue;
}

namespace VirelantDesktop::window {

inline constexpr const char* kWindowTitle = "TALVEK";
inline constexpr const char* kTrayId = "talvek";
inline constexpr const char* kSessionRegistrationFailed = "WTSRegisterSessionNotification failed\n";
inline constexpr const char* kSessionRegistrationRetryFailed = "WTSRegisterSessionNotification failed (retry)\n";

struct ShellWindowDeps {
  HostState* state = nullptr;  // default: the process's
  HostHooks* hooks = nullptr;  // default: the process's
  std::function<std::unique_ptr<platform::MainWindow>(platform::MainWindowEvents)> makeWindow;
  std::function<std::unique_ptr<platform::Tray>(platform::TrayOptions, platform::TrayEvents)> makeTray;
  std::function<std::unique_ptr<platform::SessionMonitor>(platform::SessionEvents)> makeSessionMonitor;
  std::vector<std::string> iconFiles;

  // The rest of the shell, as the window's quit and session paths need it.
  std::function<void()> stopSignIn;
  std::function<void(int budgetMs)> purgeEmbedProfile;
  std::function<void()> shutdownEngine;        // on the quit worker's thread
  std::function<void()> releaseInstanceLock;   // on the quit worker's thread
  std::function<void(bool visible)> sendVisibility;
  std::function<void()> endLoop;               // the window is gone: the UI loop ends
  std::function<void(const char* text)> debugOutput;
  // The quit worker's wait and the forced end of the process.
  std::function<void(int milliseconds)> sleep;
  std::function<void(int exitCode)> exitProcess;
};

class ShellWindow final : private WindowPort {
 public:
  explicit ShellWindow(ShellWindowDeps deps);
  ~ShellWindow() override;
  ShellWindow(const ShellWindow&) = delete;
  ShellWindow& operator=(const ShellWindow&) = delete;

  // Everything before the loop runs: title, main window in HostState, the host hooks,
  // title bar, icons, first size, tray icon, first session registration,
  // drag strip.
  void Prepare();
  void Show();

  // A second start handed over its command line (posted from any thread).
  void HandOver(std::string commandLine);
  // The session ends: SIGTERM, SIGHUP, logind's PrepareForShutdown.
  void EndSession();

  platform::MainWindow& Window() { return *window_; }
  WindowLogic& Logic() { return logic_; }
  WindowSizing& Sizing() { return sizing_; }
  TitleBar& Bar() { return titleBar_; }

 private:
  // WindowPort
  void ShowAndActivate() override;
  void Hide() override;
  void Close() override;
  bool AddTrayIcon() override;
  void RemoveTrayIcon() override;
  void ShowTrayMenu() override;
  void SendVisibility(bool visible) override;
  void StopSignIn() override;
  void PurgeEmbedProfile(int budgetMs) override;
  void StartQuitWorker() override;

  void InstallHooks();
  void AfterMoveOrResize();
  void RegisterSession();
  void OnDestroyed();
  bool Post(std::function<void()> task);

  ShellWindowDeps deps_;
  std::shared_ptr<host::LoopTaskQueue> uiQueue_;
  std::unique_ptr<platform::MainWindow> window_;
  std::unique_ptr<platform::Tray> tray_;
  std::unique_ptr<platform::SessionMonitor> session_;
  WindowLogic logic_;
  WindowSizing sizing_;
  TitleBar titleBar_;
  bool listening_ = false;  // the window's events reach the logic (after the first size)
  bool sessionFailedOnce_ = false;
  bool destroyed_ = false;
};

std::vector<platform::TrayMenuEntry> TrayMenuEntries();

}  // namespace VirelantDesktop::window
