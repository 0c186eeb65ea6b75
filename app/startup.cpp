#include "app/startup.h"

#include <glib-unix.h>
#include <glib.h>

#include <cstdio>
#include <csignal>
#include <chrono>
#include <memory>
#include <thread>

#include "app/bridge/package_provider.h"
#include "app/host_state.h"
#include "app/single_instance_step.h"
#include "host/react_host.h"
#include "platform/folders.h"
#include "platform/single_instance.h"

namespace VirelantDesktop::app {
namespace {

constexpr const char* kBundleFolder = "/Bundle/";
constexpr const char* kBundleFile = "index.windows";
constexpr const char* kRootComponent = "VirelantDesktop";

// Start-up steps that later work fills in. Each stands where it runs.
void SetBeforeUninstallTarget() {}                      // the per-user font removal
void RunUpdateLibraryHooks(const CommandLine&) {}       // update client hooks and its app run
void RemoveFontsForUninstall() {}                       // the per-user font removal
void WipeLeftOverEmbedProfiles() {}                     // per-user data folder + "/TALVEK"
bool InstallFontsOrRelaunch(const std::string&, const CommandLine&) { return true; }  // false: exit 0
void CheckFonts(const CommandLine&) {}                  // sets fontsLoaded
void PrepareMainWindow(host::ReactHost&) {}             // title, hooks, icons, size, tray, session

}  // namespace

int RunApplication(const CommandLine& commandLine) {
  // Uninstall target and update-library hooks come first of all.
  SetBeforeUninstallTarget();
  RunUpdateLibraryHooks(commandLine);

  // Single instance: the uninstall switch first, then the lock or the
  // hand-over to the running instance.
  if (HasUninstallSwitch(commandLine)) {
    RemoveFontsForUninstall();
    return 0;
  }
  platform::InstanceGuard instance;
  SingleInstanceDeps instanceDeps;
  instanceDeps.folder = platform::InstanceFolder().value_or("");
  instanceDeps.executablePath = platform::ExecutablePath().value_or("");
  instanceDeps.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  instanceDeps.now = [] { return std::chrono::steady_clock::now(); };
  if (DecideSingleInstance(commandLine, instanceDeps, instance) == StartDecision::HandedOver) return 0;

  // (The UI thread needs no apartment set-up here.)
  WipeLeftOverEmbedProfiles();
  // (Per-monitor DPI comes from the toolkit here.)

  const auto executableDir = platform::ExecutableDir();
  if (!executableDir) {
    std::fprintf(stderr, "talvek: cannot determine the program's folder\n");
    return 1;
  }
  if (!InstallFontsOrRelaunch(*executableDir, commandLine)) return 0;
  CheckFonts(commandLine);

  // Host and package providers. (The SVG component package has no
  // counterpart in this host.)
  host::ReactHost host;
  host.InstanceSettings().PackageProviders.push_back(std::make_shared<CompReactPackageProvider>());

  // Bundle.
  host.InstanceSettings().BundleRootPath = "file://" + *executableDir + kBundleFolder;
  host.InstanceSettings().JavaScriptBundleFile = kBundleFile;
  host.InstanceSettings().UseFastRefresh = false;
  host.InstanceSettings().UseDirectDebugger = false;
  host.InstanceSettings().UseDeveloperSupport = false;

  PrepareMainWindow(host);

  // Later starts hand their command line over; the window comes forward.
  platform::HandOverServer handOver(
      instance.ListenFd(), kHandOverSendMs, [] { return HostState::Get().IsQuitting(); },
      [](std::vector<std::string>) { HostState::Get().CallShowMainWindow(); });

  // Until the window and session handling exist, an interrupt or a
  // termination request ends the loop like the tray's Quit would.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    g_unix_signal_add(
        signal,
        [](gpointer data) -> gboolean {
          static_cast<host::ReactHost*>(data)->Quit(0);
          return G_SOURCE_CONTINUE;
        },
        &host);
  }

  host.ViewOptions().ComponentName = kRootComponent;
  const int code = host.Start();

  // Clean-up after the loop: icons and framework objects go with `host`;
  // the instance socket goes before the lock (with `instance`).
  return code;
}

}  // namespace VirelantDesktop::app
