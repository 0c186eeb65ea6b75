#include "app/window/shell_window.h"

#include <glib.h>

#include <thread>

#include "host/loop_task_queue.h"

namespace VirelantDesktop::window {
namespace {

HostState& StateOf(const ShellWindowDeps& deps) { return deps.state ? *deps.state : HostState::Get(); }
HostHooks& HooksOf(const ShellWindowDeps& deps) { return deps.hooks ? *deps.hooks : HostHooks::Get(); }

}  // namespace

std::vector<platform::TrayMenuEntry> TrayMenuEntries() {
  return {{kCommandOpen, "Open TALVEK"}, {kCommandQuit, "Quit"}};
}

ShellWindow::ShellWindow(ShellWindowDeps deps)
    : deps_(std::move(deps)),
      uiQueue_(std::make_shared<host::LoopTaskQueue>(g_main_context_default(), nullptr)),
      window_(deps_.makeWindow(platform::MainWindowEvents{
          .closeRequested = [this] { return logic_.OnCloseRequested(); },
          .shownChanged =
              [this](bool shown) {
                if (listening_) logic_.OnShown(shown);
              },
          .stateChanged =
              [this](bool minimized, bool maximized) {
                if (!listening_) return;
                logic_.OnMinimized(minimized);
                sizing_.OnStateChanged(minimized, maximized);
                AfterMoveOrResize();
              },
          .geometryChanged =
              [this] {
                if (!listening_) return;
                sizing_.OnGeometryChanged();
                // The frame may have changed with the size: the limits follow.
                sizing_.PushLimits();
                titleBar_.UpdateDragStrip();
                AfterMoveOrResize();
              },
          .dpiChanged =
              [this] {
                if (!listening_) return;
                window_->SetIcons(deps_.iconFiles);
                sizing_.OnDpiChanged();
                titleBar_.UpdateDragStrip();
              },
          .destroyed = [this] { OnDestroyed(); },
      })),
      logic_(*this, StateOf(deps_)),
      sizing_(*window_),
      titleBar_(*window_) {
  platform::TrayOptions trayOptions{kTrayId, kWindowTitle, deps_.iconFiles, TrayMenuEntries()};
  tray_ = deps_.makeTray(std::move(trayOptions),
                         platform::TrayEvents{
                             .activated = [this] { logic_.OnTrayActivated(); },
                             .command = [this](int command) { logic_.OnCommand(command); },
                             .menuRequested = [this] { logic_.OnTrayMenuRequested(); },
                             .hostAppeared = [this] { logic_.OnTrayHostAppeared(); },
                         });
  session_ = deps_.makeSessionMonitor(platform::SessionEvents{
      .lockChanged = [this](bool locked) { logic_.OnSessionLocked(locked); },
      .endOfSession = [this] { EndSession(); },
  });
}

ShellWindow::~ShellWindow() {
  // Tasks still queued refer to this object: drop them, refuse new ones.
  uiQueue_->Close();
  HostState& state = StateOf(deps_);
  HooksOf(deps_).Install({});
  HooksOf(deps_).SetVisibilityRefresher(nullptr);
  if (state.MainWindow() == window_.get()) state.SetMainWindow(nullptr);
  if (session_) session_->Unregister();
  if (tray_) tray_->Remove();
}

bool ShellWindow::Post(std::function<void()> task) { return uiQueue_->Post(std::move(task)); }

void ShellWindow::Prepare() {
  HostState& state = StateOf(deps_);
  window_->SetTitle(kWindowTitle);
  state.SetMainWindow(window_.get());

  if (titleBar_.Apply()) sizing_.SetCustomTitleBar(true);
  window_->SetIcons(deps_.iconFiles);
  InstallHooks();

  sizing_.ApplyInitialSize();
  sizing_.PushLimits();

  // From here on the window's events reach the logic.
  listening_ = true;
  HooksOf(deps_).SetVisibilityRefresher([this] {
    if (!destroyed_) logic_.ResendVisibility(window_->IsVisible(), window_->IsMinimized());
  });
  logic_.OnStart();  // the tray icon
  RegisterSession();
  titleBar_.UpdateDragStrip();
}

void ShellWindow::Show() { window_->Show(); }

void ShellWindow::InstallHooks() {
  // RequestQuit and ShowMainWindow run on any thread, possibly while this
  // object goes away: they hold the queue (closed first thing on
  // destruction, so posted tasks never outlive it) and copies of what they
  // call, never `this` outside a posted task.
  HostHookFunctions hooks;
  std::weak_ptr<host::LoopTaskQueue> queue = uiQueue_;
  hooks.requestQuit = [this, queue, shutdownEngine = deps_.shutdownEngine, exitProcess = deps_.exitProcess] {
    auto ui = queue.lock();
    if (ui && ui->Post([this] { logic_.OnCommand(kCommandQuit); })) return;
    // No window to take the command: stop the engine here and end.
    if (shutdownEngine) shutdownEngine();
    if (exitProcess) exitProcess(0);
  };
  hooks.showMainWindow = [this, queue, state = &StateOf(deps_)] {
    if (state->IsQuitting()) return;
    if (auto ui = queue.lock()) ui->Post([this] { logic_.OnCommand(kCommandOpen); });
  };
  hooks.applyWindowResizable = [this](bool resizable) {
    sizing_.ApplyResizable(resizable, [this] { titleBar_.Reapply(); });
  };
  if (titleBar_.IsCustom()) hooks.applyCaptionTheme = [this](bool dark) { titleBar_.SetTheme(dark); };
  HooksOf(deps_).Install(std::move(hooks));
}

void ShellWindow::HandOver(std::string commandLine) {
  Post([this, line = std::move(commandLine)] { logic_.OnHandOver(line); });
}

void ShellWindow::EndSession() {
  logic_.OnEndSession();
  // The session's end takes the process with it: leave the loop now.
  if (deps_.endLoop) deps_.endLoop();
}

void ShellWindow::RegisterSession() {
  if (!session_ || session_->IsRegistered()) return;
  if (session_->Register()) return;
  if (deps_.debugOutput) {
    deps_.debugOutput(sessionFailedOnce_ ? kSessionRegistrationRetryFailed : kSessionRegistrationFailed);
  }
  sessionFailedOnce_ = true;
}

void ShellWindow::AfterMoveOrResize() {
  if (destroyed_) return;
  RegisterSession();
  logic_.OnWindowStateRead(window_->IsVisible(), window_->IsMinimized());
}

void ShellWindow::OnDestroyed() {
  if (destroyed_) return;
  destroyed_ = true;
  if (session_) session_->Unregister();
  logic_.OnDestroyed();
  if (deps_.endLoop) deps_.endLoop();
}

// --- WindowPort ---

void ShellWindow::ShowAndActivate() { window_->ShowAndActivate(); }

void ShellWindow::Hide() { window_->Hide(); }

void ShellWindow::Close() { window_->Close(); }

bool ShellWindow::AddTrayIcon() { return tray_ && tray_->Add(); }

void ShellWindow::RemoveTrayIcon() {
  if (tray_) tray_->Remove();
}

void ShellWindow::ShowTrayMenu() {
  window_->PopupMenu(TrayMenuEntries(), [this](int command) { logic_.OnCommand(command); });
}

void ShellWindow::SendVisibility(bool visible) {
  if (deps_.sendVisibility) deps_.sendVisibility(visible);
}

void ShellWindow::StopSignIn() {
  if (deps_.stopSignIn) deps_.stopSignIn();
}

void ShellWindow::PurgeEmbedProfile(int budgetMs) {
  if (deps_.purgeEmbedProfile) deps_.purgeEmbedProfile(budgetMs);
}

void ShellWindow::StartQuitWorker() {
  // The worker outlives this object when the loop ends first: it holds the
  // queue, not the window, and whatever it posts is dropped once closed.
  QuitSteps steps;
  steps.shutdownEngine = deps_.shutdownEngine;
  steps.releaseInstanceLock = deps_.releaseInstanceLock;
  steps.postCloseAfterQuit = [queue = uiQueue_, this] { queue->Post([this] { logic_.OnCloseAfterQuit(); }); };
  steps.sleep = deps_.sleep;
  steps.exitProcess = deps_.exitProcess;
  try {
    std::thread([steps = std::move(steps)] { RunQuitSequence(steps); }).detach();
  } catch (const std::system_error&) {
    // No thread: run the steps that matter here; the loop ends with the close.
    if (steps.releaseInstanceLock) steps.releaseInstanceLock();
    logic_.OnCloseAfterQuit();
  }
}

}  // namespace VirelantDesktop::window
