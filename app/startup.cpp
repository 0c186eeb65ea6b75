#include "app/startup.h"

#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "bridge/package_provider.h"
#include "app/font_steps.h"
#include "textinput/text_input_view.h"
#include "app/host_state.h"
#include "bridge/host_hooks.h"
#include "app/single_instance_step.h"
#include "app/window/render_port.h"
#include "app/window/shell_window.h"
#include "embed/embed_profile.h"
#include "embed/embed_view.h"
#include "fonts/font_check.h"
#include "fonts/font_installer.h"
#include "host/react_host.h"
#include "modules/auth/sign_in.h"
#include "modules/engine/engine_host.h"
#include "platform/attach_surface.h"
#include "platform/clipboard_reader.h"
#include "platform/file_picker.h"
#include "platform/folder_picker.h"
#include "platform/folders.h"
#include "platform/gtk_desktop.h"
#include "platform/headless_window.h"
#include "platform/process_launch.h"
#include "platform/save_dialog.h"
#include "platform/share_sheet.h"
#include "platform/session_monitor.h"
#include "platform/single_instance.h"
#include "platform/tray.h"
#include "updater/startup_hooks.h"

namespace VirelantDesktop::app {
namespace {

constexpr const char* kBundleFolder = "/Bundle/";
constexpr const char* kBundleFile = "index.windows";
constexpr const char* kRootComponent = "VirelantDesktop";
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// Start-up steps and shutdown calls that other subsystems fill in. Each
// stands where it runs.
// The per-user font removal; the executable's folder tells the shipped
// copies (empty when it cannot be found).
void RemoveFontsForUninstall() { fonts::RemoveUserFonts(platform::ExecutableDir().value_or("")); }
// What the update client's before-uninstall hook runs.
void (*g_beforeUninstallTarget)() = nullptr;
void SetBeforeUninstallTarget() { g_beforeUninstallTarget = RemoveFontsForUninstall; }
// The update client's hooks and its start-up run, only when the library
// beside the executable loads (the backend later uses the same handle);
// without it the shell runs without self-update.
void RunUpdateLibraryHooks(const CommandLine&) {
  if (const auto library = TalvekUpdater::ProcessUpdateClient()) {
    TalvekUpdater::RunClientStartupHooks(*library, g_beforeUninstallTarget);
  }
}
// Profiles of embed views whose process is gone (per-user data folder +
// "/TALVEK/embed-tmp").
void WipeLeftOverEmbedProfiles() { Embed::WipeStaleProfiles(Embed::EmbedProfileBase()); }
// This process's embed views, their web environment and then their profile,
// within the exit path's time budget.
void PurgeEmbedProfile(int budgetMs) { Embed::EmbedViews::Get().Shutdown(budgetMs); }

// The single-instance hold: the lock, its socket and the thread serving
// hand-overs. Released once, by the quit worker or at the end of the run,
// whichever comes first; the server stops before the socket goes.
class InstanceHold {
 public:
  explicit InstanceHold(platform::InstanceGuard guard) : guard_(std::move(guard)) {}
  ~InstanceHold() { Release(); }

  void Serve(std::function<void(std::vector<std::string>)> onAccepted) {
    std::lock_guard lock(mutex_);
    if (!guard_.IsHeld()) return;
    server_ = std::make_unique<platform::HandOverServer>(
        guard_.ListenFd(), kHandOverSendMs, [] { return HostState::Get().IsQuitting(); }, std::move(onAccepted));
  }

  void Release() noexcept {
    std::lock_guard lock(mutex_);
    server_.reset();
    guard_.Release();
  }

  // Takes the lock again after a Release (before Serve); false when another
  // instance holds it now (the command line was handed over to it).
  bool Retake(const CommandLine& commandLine, const SingleInstanceDeps& deps) {
    std::lock_guard lock(mutex_);
    return DecideSingleInstance(commandLine, deps, guard_) == StartDecision::Run;
  }

 private:
  std::mutex mutex_;  // guards guard_ and server_ (released from the quit worker or the UI thread)
  platform::InstanceGuard guard_;
  std::unique_ptr<platform::HandOverServer> server_;
};

std::vector<std::string> IconFiles(const std::string& executableDir) {
  std::vector<std::string> files;
  for (int size : kIconSizes) files.push_back(executableDir + "/icons/talvek-" + std::to_string(size) + ".png");
  return files;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const auto& argument : arguments) {
    if (!line.empty()) line.push_back(' ');
    line += argument;
  }
  return line;
}

}  // namespace

int RunApplication(const CommandLine& commandLine) {
  // Uninstall target and update-library hooks come first of all.
  SetBeforeUninstallTarget();
  RunUpdateLibraryHooks(commandLine);

  // Single instance: the uninstall switch first, then the lock or the
  // hand-over to the running instance.
  if (HasUninstallSwitch(commandLine)) {
    // The update library's hook has done it when the library is here.
    if (!TalvekUpdater::BeforeUninstallHookRan()) RemoveFontsForUninstall();
    return 0;
  }
  platform::InstanceGuard guard;
  SingleInstanceDeps instanceDeps;
  instanceDeps.folder = platform::InstanceFolder().value_or("");
  instanceDeps.executablePath = platform::ExecutablePath().value_or("");
  instanceDeps.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  instanceDeps.now = [] { return std::chrono::steady_clock::now(); };
  if (DecideSingleInstance(commandLine, instanceDeps, guard) == StartDecision::HandedOver) return 0;
  auto instance = std::make_shared<InstanceHold>(std::move(guard));

  // (The UI thread needs no apartment set-up here.)
  WipeLeftOverEmbedProfiles();
  // Per-monitor scale comes with the toolkit; without a display the window
  // is headless.
  const platform::GtkStart display = platform::InitGtk();
  if (display == platform::GtkStart::OpenFailed) {
    std::fprintf(stderr, "talvek: cannot open the display; running without a window\n");
  }
  const bool gtk = display == platform::GtkStart::Ready;
  if (gtk) {
    // The folder chooser belongs to the main window once it exists.
    platform::InstallFolderPicker([](platform::FolderPickDone done) {
      auto* window = static_cast<platform::MainWindow*>(HostState::Get().MainWindow());
      platform::MakeGtkFolderPicker(window != nullptr ? window->NativeHandle() : nullptr)(std::move(done));
    });
    platform::InstallClipboardReader(platform::MakeGtkClipboardReader());
    platform::InstallFilesPicker([](const platform::FilePickOptions& options, platform::FilesPickDone done) {
      auto* window = static_cast<platform::MainWindow*>(HostState::Get().MainWindow());
      platform::MakeGtkFilesPicker(window != nullptr ? window->NativeHandle() : nullptr)(options, std::move(done));
    });
    platform::InstallAttachSurface([](platform::AttachSurfaceEvents events) {
      auto* window = static_cast<platform::MainWindow*>(HostState::Get().MainWindow());
      return window != nullptr && platform::ConnectGtkAttachSurface(window->NativeHandle(), std::move(events));
    });
    platform::InstallSaveDialog([](const std::string& name, platform::SaveDialogDone done) {
      auto* window = static_cast<platform::MainWindow*>(HostState::Get().MainWindow());
      platform::MakeGtkSaveDialog(window != nullptr ? window->NativeHandle() : nullptr)(name, std::move(done));
    });
    // The share sheet shows over the main window only.
    platform::InstallShareSheet([](const platform::SharePayload& payload, platform::ShareSheetDone done)
                                    -> std::shared_ptr<platform::ShareSheetHandle> {
      auto* window = static_cast<platform::MainWindow*>(HostState::Get().MainWindow());
      if (window == nullptr) return nullptr;
      return platform::MakeGtkShareSheet(window->NativeHandle())(payload, std::move(done));
    });
  }

  const auto executableDir = platform::ExecutableDir();
  if (!executableDir) {
    std::fprintf(stderr, "talvek: cannot determine the program's folder\n");
    return 1;
  }
  // Fonts: install (and relaunch once when something was new), then check.
  FontStepDeps fontDeps;
  fontDeps.install = [&] { return fonts::InstallUserFonts(*executableDir); };
  fontDeps.releaseInstance = [instance] { instance->Release(); };
  fontDeps.retakeInstance = [&] { return instance->Retake(commandLine, instanceDeps); };
  fontDeps.launch = platform::LaunchDetached;
  fontDeps.executablePath = instanceDeps.executablePath;
  fontDeps.userFontsFolder = fonts::UserFontsFolder;
  fontDeps.familyAvailable = fonts::FontFamilyAvailable;
  fontDeps.sleep = instanceDeps.sleep;
  if (!InstallFontsOrRelaunch(commandLine, fontDeps)) return 0;
  HostHooks::Get().SetFontsLoaded(CheckProductFonts(commandLine, fontDeps));

  // Host and package providers. (The SVG component package has no
  // counterpart in this host.)
  host::ReactHost host;
  // The embed view component, configured by the embedded-content code.
  SetEmbedViewComponentProvider(Embed::ConfigureEmbedViewComponent);
  // The bundle's UI is drawn in the main window's page.
  auto renderPort = std::make_shared<window::RenderPort>();
  renderPort->Configure(host.Options(), gtk);
  host.InstanceSettings().PackageProviders.push_back(std::make_shared<CompReactPackageProvider>());
  // Text inputs: React Native's own components on the toolkit's text fields.
  host.InstanceSettings().PackageProviders.push_back(std::make_shared<TextInput::TextInputPackageProvider>());

  // Bundle.
  host.InstanceSettings().BundleRootPath = "file://" + *executableDir + kBundleFolder;
  host.InstanceSettings().JavaScriptBundleFile = kBundleFile;
  host.InstanceSettings().UseFastRefresh = false;
  host.InstanceSettings().UseDirectDebugger = false;
  host.InstanceSettings().UseDeveloperSupport = false;

  // Window, hooks, icons, size, tray and session notifications.
  window::ShellWindowDeps deps;
  deps.makeWindow = [gtk](platform::MainWindowEvents events) -> std::unique_ptr<platform::MainWindow> {
    if (gtk) return platform::MakeGtkWindow(std::move(events));
    return std::make_unique<platform::HeadlessWindow>(std::move(events));
  };
  deps.makeTray = [gtk](platform::TrayOptions options, platform::TrayEvents events) {
    auto primary = platform::MakeStatusNotifierTray(options, events);
    std::function<std::unique_ptr<platform::Tray>()> fallback;
    if (gtk) fallback = [options, events] { return platform::MakeXEmbedTray(options, events); };
    return platform::MakeTrayWithFallback(std::move(primary), std::move(fallback));
  };
  deps.makeSessionMonitor = [](platform::SessionEvents events) { return platform::MakeSessionMonitor(std::move(events)); };
  deps.iconFiles = IconFiles(*executableDir);
  deps.stopSignIn = CancelSignInFlow;
  deps.purgeEmbedProfile = PurgeEmbedProfile;
  deps.shutdownEngine = [] { ShutdownEngine(); };
  deps.releaseInstanceLock = [instance] { instance->Release(); };
  deps.sendVisibility = [](bool visible) { HostHooks::Get().NotifyVisibility(visible); };
  deps.endLoop = [&host] { host.Quit(0); };
  deps.debugOutput = [](const char* text) { std::fputs(text, stderr); };
  deps.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  deps.exitProcess = [](int code) {
    std::fflush(nullptr);
    _exit(code);
  };
  window::ShellWindow mainWindow(std::move(deps));
  mainWindow.Prepare();

  // Later starts hand their command line over; the window comes forward.
  instance->Serve([&mainWindow](std::vector<std::string> arguments) { mainWindow.HandOver(JoinArguments(arguments)); });

  // The end of the session: a termination request, a hang-up or an
  // interrupt (logind's shutdown notice comes through the session monitor).
  std::vector<guint> signalSources;
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    signalSources.push_back(g_unix_signal_add(
        signal,
        [](gpointer data) -> gboolean {
          static_cast<window::ShellWindow*>(data)->EndSession();
          return G_SOURCE_CONTINUE;
        },
        &mainWindow));
  }

  host.ViewOptions().ComponentName = kRootComponent;
  if (gtk) renderPort->Attach(mainWindow.Window(), host);
  host.Options().display = renderPort->Display();
  mainWindow.Show();
  const int code = host.Start();
  renderPort->Detach();

  // Clean-up after the loop: no more hand-overs, the socket before the
  // lock; then the window, tray and icons.
  for (guint source : signalSources) g_source_remove(source);
  instance->Release();
  return code;
}

}  // namespace VirelantDesktop::app
