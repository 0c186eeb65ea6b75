#include "updater/client/startup.h"

#include <exception>
#include <string>

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
