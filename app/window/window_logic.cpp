#include "app/window/window_logic.h"

namespace VirelantDesktop::window {

void WindowLogic::OnStart() { AddTray(); }

void WindowLogic::AddTray() { trayPresent_ = port_.AddTrayIcon(); }

void WindowLogic::RemoveTray() {
  if (!trayPresent_) return;
  port_.RemoveTrayIcon();
  trayPresent_ = false;
}

bool WindowLogic::OnCloseRequested() {
  if (state_.IsQuitting()) return false;
  // The window lives in the tray; the user never closes it.
  port_.Hide();
  return true;
}

void WindowLogic::OnTrayActivated() { port_.ShowAndActivate(); }

void WindowLogic::OnTrayMenuRequested() { port_.ShowTrayMenu(); }

void WindowLogic::OnTrayHostAppeared() {
  trayPresent_ = false;
  if (!state_.IsQuitting()) AddTray();
}

void WindowLogic::OnCommand(int command) {
  if (command == kCommandOpen) {
    if (!state_.IsQuitting()) port_.ShowAndActivate();
  } else if (command == kCommandQuit) {
    if (!state_.SetQuitting()) return;  // already on its way out
    port_.StopSignIn();
    port_.Hide();
    RemoveTray();
    port_.StartQuitWorker();
  }
}

void WindowLogic::OnCloseAfterQuit() {
  RemoveTray();
  port_.PurgeEmbedProfile(kPurgeBudgetQuitMs);
  port_.Close();
}

int WindowLogic::OnHandOver(std::string_view) {
  if (state_.IsQuitting()) return 0;
  port_.ShowAndActivate();
  return 1;
}

void WindowLogic::OnEndSession() {
  state_.SetQuitting();
  port_.StopSignIn();
  port_.PurgeEmbedProfile(kPurgeBudgetEndSessionMs);
}

void WindowLogic::OnDestroyed() {
  RemoveTray();
  port_.PurgeEmbedProfile(kPurgeBudgetDestroyMs);
}

void WindowLogic::OnShown(bool shown) {
  shown_ = shown;
  UpdateVisibility();
}

void WindowLogic::OnMinimized(bool minimized) {
  minimized_ = minimized;
  UpdateVisibility();
}

void WindowLogic::OnSessionLocked(bool locked) {
  locked_ = locked;
  UpdateVisibility();
}

void WindowLogic::OnSessionDisconnected(bool disconnected) {
  disconnected_ = disconnected;
  UpdateVisibility();
}

void WindowLogic::OnWindowStateRead(bool shown, bool minimized) {
  shown_ = shown;
  minimized_ = minimized;
  UpdateVisibility();
}

void WindowLogic::ResendVisibility(bool shown, bool minimized) {
  shown_ = shown;
  minimized_ = minimized;
  lastSentVisible_ = shown_ && !minimized_ && !locked_ && !disconnected_;
  port_.SendVisibility(lastSentVisible_);
}

void WindowLogic::UpdateVisibility() {
  const bool visible = shown_ && !minimized_ && !locked_ && !disconnected_;
  if (visible == lastSentVisible_) return;
  lastSentVisible_ = visible;
  port_.SendVisibility(visible);
}

void RunQuitSequence(const QuitSteps& steps) {
  if (steps.shutdownEngine) steps.shutdownEngine();  // its outcome does not matter here
  if (steps.releaseInstanceLock) steps.releaseInstanceLock();
  if (steps.postCloseAfterQuit) steps.postCloseAfterQuit();
  // If the UI thread finishes first, the process is gone before this wakes.
  if (steps.sleep) steps.sleep(kQuitGraceMs);
  if (steps.exitProcess) steps.exitProcess(0);
}

}  // namespace VirelantDesktop::window
