#include "updater/client/startup.h"

#include <exception>
#include <string>

#include "updater/client/client_os.h"

namespace VirelantDesktop::update_client {
namespace {

// A helper at work holds the apply lock, and may be between its renames
// right now: then the swap is its to finish.
void RecoverCutSwap(const Installation& installation) noexcept {
  const std::string current = installation.root + "/" + kCurrentFolderName;
  const std::string previous = installation.root + "/" + kPreviousFolderName;
  if (os::IsFolder(current) || !os::IsFolder(previous)) return;
  platform::UniqueFd lock;
  try {
    lock = os::TryLockFile(installation.packagesDir + "/" + kApplyLockName);
    if (!lock) return;
  } catch (const std::exception&) {
    // No lock can be had without a packages folder, and no helper runs without one.
  }
  os::RestoreCurrentFolder(current, previous);
}

}  // namespace

void RunStartupHooks(const Installation& installation, const StartupHooks& hooks, void* userData) {
  RecoverCutSwap(installation);
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
