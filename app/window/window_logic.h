// The main window's behaviour as a tray application, free of any toolkit:
// close hides to the tray, the tray brings the window back or quits, a second
// start brings it forward, visibility changes reach JavaScript, and the quit
// and end-of-session paths run once. A window backend feeds it events and
// carries out what it asks through WindowPort. UI thread only.
#pragma once

#include <functional>
#include <string_view>

#include "app/host_state.h"

namespace VirelantDesktop::window {

// Tray menu commands (also posted by the RequestQuit and ShowMainWindow hooks).
inline constexpr int kCommandOpen = 40001;
inline constexpr int kCommandQuit = 40002;

// Embed profile purge budgets, in milliseconds.
inline constexpr int kPurgeBudgetQuitMs = 2500;
inline constexpr int kPurgeBudgetDestroyMs = 1500;
inline constexpr int kPurgeBudgetEndSessionMs = 500;

// What the logic asks of the window backend and of the rest of the shell.
class WindowPort {
 public:
  virtual ~WindowPort() = default;
  // Shows the window (restored when minimised) and brings it forward.
  virtual void ShowAndActivate() = 0;
  virtual void Hide() = 0;
  // Closes the window for good (after the quit sequence).
  virtual void Close() = 0;
  // Adds the tray icon; false when it could not be added.
  virtual bool AddTrayIcon() = 0;
  virtual void RemoveTrayIcon() = 0;
  virtual void ShowTrayMenu() = 0;
  // "Shell.windowVisibility" with the new value.
  virtual void SendVisibility(bool visible) = 0;
  virtual void StopSignIn() = 0;
  virtual void PurgeEmbedProfile(int budgetMs) = 0;
  // Starts the quit worker (engine shutdown, instance lock, close, forced exit).
  virtual void StartQuitWorker() = 0;
};

class WindowLogic {
 public:
  WindowLogic(WindowPort& port, HostState& state) : port_(port), state_(state) {}

  // Start-up: the tray icon.
  void OnStart();

  // The user or the system asks the window to close. True when handled (the
  // window only hid); false while quitting, when it may close.
  bool OnCloseRequested();
  // Left click or double click on the tray icon.
  void OnTrayActivated();
  // Right click on the tray icon.
  void OnTrayMenuRequested();
  // A tray (re)appeared, e.g. the tray host restarted: add the icon again.
  void OnTrayHostAppeared();
  void OnCommand(int command);
  // The quit worker's request to close: tray off, purge, close.
  void OnCloseAfterQuit();
  // A second start handed over its command line: 1 accepted, 0 while quitting.
  int OnHandOver(std::string_view commandLine);
  // The session ends (SIGTERM/SIGHUP, logind PrepareForShutdown).
  void OnEndSession();
  // The window is being destroyed.
  void OnDestroyed();

  // Visibility inputs. Visible = shown and not minimised and not locked and
  // not disconnected; a change is sent to JavaScript.
  void OnShown(bool shown);
  void OnMinimized(bool minimized);
  void OnSessionLocked(bool locked);
  void OnSessionDisconnected(bool disconnected);
  // Shown and minimised read back from the window after it moved or resized.
  void OnWindowStateRead(bool shown, bool minimized);
  // As OnWindowStateRead, but the value is sent even when it did not change
  // (a new listener wants the current one).
  void ResendVisibility(bool shown, bool minimized);

  bool Visible() const noexcept { return lastSentVisible_; }
  bool TrayIconPresent() const noexcept { return trayPresent_; }

 private:
  void AddTray();
  void RemoveTray();
  void UpdateVisibility();

  WindowPort& port_;
  HostState& state_;
  bool trayPresent_ = false;
  bool shown_ = false;
  bool minimized_ = false;
  bool locked_ = false;
  bool disconnected_ = false;
  bool lastSentVisible_ = false;
};

// The quit worker's steps, run on a thread of its own. The sequence ends the
// process with exit code 0 after the grace period even when the UI thread
// never finishes.
struct QuitSteps {
  std::function<void()> shutdownEngine;
  std::function<void()> releaseInstanceLock;
  std::function<void()> postCloseAfterQuit;
  std::function<void(int milliseconds)> sleep;
  std::function<void(int exitCode)> exitProcess;
};
inline constexpr int kQuitGraceMs = 5000;

void RunQuitSequence(const QuitSteps& steps);

}  // namespace VirelantDesktop::window
