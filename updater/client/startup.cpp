#include "updater/client/startup.h"

#include "updater/client/client_os.h"

namespace VirelantDesktop::update_client {

void RunStartupHooks(const Installation& installation, const StartupHooks& hooks, void* userData) {
  os::RestoreCurrentFolder(installation.root + "/" + kCurrentFolderName,
                           installation.root + "/" + kPreviousFolderName);
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
