#include "updater/client/startup.h"

#include <exception>
#include <string>
#include <string_view>

#include "updater/client/client_os.h"
#include "updater/client/swap_recovery.h"

namespace VirelantDesktop::update_client {
namespace {

// A helper at work holds the apply lock, and may be between its renames
// right now: then the swap is its to finish.
void RecoverSwapUnlessHelperRuns(const Installation& installation) noexcept {
  if (!ParkedFolder(installation.root)) return;
  platform::UniqueFd lock;
  try {
    lock = os::TryLockFile(installation.packagesDir + "/" + kApplyLockName);
    if (!lock) return;
  } catch (const std::exception&) {
    // No lock can be had without a packages folder, and no helper runs without one.
  }
  RecoverCutSwap(installation.root);
}

}  // namespace

bool IsUninstallRun(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return false;
  const std::string& first = arguments[1];
  const std::string_view expected = kUninstallArgument;
  if (first.size() != expected.size()) return false;
  for (size_t i = 0; i < first.size(); ++i) {
    const char c = first[i] >= 'A' && first[i] <= 'Z' ? static_cast<char>(first[i] - 'A' + 'a') : first[i];
    if (c != expected[i]) return false;
  }
  return true;
}

void RunUninstallHook(const StartupHooks& hooks, void* userData) {
  if (hooks.beforeUninstall == nullptr) return;
  std::string version;
  try {
    version = LocateInstallation().version;
  } catch (const std::exception&) {
    // A program outside an installation is uninstalled all the same.
  }
  hooks.beforeUninstall(userData, version.c_str());
}

void RunStartupHooks(const Installation& installation, const StartupHooks& hooks, void* userData) {
  RecoverSwapUnlessHelperRuns(installation);
  // Marks are made only in a real installation, never beside a build tree.
  if (!installation.IsSwappable()) return;
  const std::string firstRun = installation.root + "/" + kFirstRunMarkerName;
  if (os::CreateMarkerFile(firstRun, installation.version + "\n") && hooks.firstRun != nullptr) {
    hooks.firstRun(userData, installation.version.c_str());
  }
  const std::string applied = installation.executableDir + "/" + kAppliedMarkerName;
  if (os::ConsumeMarkerFile(applied) && hooks.restarted != nullptr) {
    hooks.restarted(userData, installation.version.c_str());
  }
}

}  // namespace VirelantDesktop::update_client
