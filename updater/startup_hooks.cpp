#include "updater/startup_hooks.h"

#include <atomic>

#include "platform/folders.h"
#include "updater/feed_url.h"
#include "updater/restart_record.h"
#include "updater/update_engine.h"
#include "updater/velopack_backend.h"

namespace TalvekUpdater {
namespace {

std::atomic<void (*)()> g_beforeUninstall{nullptr};
std::atomic<bool> g_beforeUninstallRan{false};

void DoNothing(void*, const char*) {}

void BeforeUninstall(void*, const char*) {
  g_beforeUninstallRan.store(true);
  const auto target = g_beforeUninstall.load();
  if (target == nullptr) return;
  try {
    target();
  } catch (...) {  // nothing may unwind into the library
  }
}

void Restarted(void*, const char* version) { RecordRestart(version); }

// The running version as the library reads it; "" when it cannot.
std::string RunningVersion(const UpdateClientLibrary& library) {
  VelopackBackend::Options options;
  options.feedUrl = DefaultFeedUrl();
  // Borrowed for this one call: the library outlives the backend.
  options.library = std::shared_ptr<const UpdateClientLibrary>(std::shared_ptr<const void>(), &library);
  return VelopackBackend(std::move(options)).CurrentVersion();
}

// Only a program in an installation's "current" folder has a packages
// folder of its own (a build tree has none).
void CleanUpInstalledPackages(const UpdateClientLibrary& library) noexcept {
  try {
    const auto dir = VirelantDesktop::platform::ExecutableDir();
    if (!dir || !dir->ends_with("/current")) return;
    CleanUpPackagesAtStart(InstalledPackagesDir(""), RunningVersion(library));
  } catch (...) {
  }
}

}  // namespace

bool BeforeUninstallHookRan() noexcept { return g_beforeUninstallRan.load(); }

bool RunClientStartupHooks(const UpdateClientLibrary& library, void (*beforeUninstall)()) {
  const auto autoApply = TUC_FUNCTION(library, tuc_app_set_auto_apply_on_startup);
  const auto afterInstall = TUC_FUNCTION(library, tuc_app_set_hook_after_install);
  const auto uninstall = TUC_FUNCTION(library, tuc_app_set_hook_before_uninstall);
  const auto beforeUpdate = TUC_FUNCTION(library, tuc_app_set_hook_before_update);
  const auto afterUpdate = TUC_FUNCTION(library, tuc_app_set_hook_after_update);
  const auto firstRun = TUC_FUNCTION(library, tuc_app_set_hook_first_run);
  const auto restarted = TUC_FUNCTION(library, tuc_app_set_hook_restarted);
  const auto run = TUC_FUNCTION(library, tuc_app_run);
  if (!autoApply || !afterInstall || !uninstall || !beforeUpdate || !afterUpdate || !firstRun || !restarted || !run) {
    return false;
  }
  g_beforeUninstall.store(beforeUninstall);
  autoApply(false);
  afterInstall(DoNothing);
  beforeUpdate(DoNothing);
  afterUpdate(DoNothing);
  firstRun(DoNothing);
  uninstall(BeforeUninstall);
  restarted(Restarted);
  run(nullptr);
  CleanUpInstalledPackages(library);
  return true;
}

}  // namespace TalvekUpdater
