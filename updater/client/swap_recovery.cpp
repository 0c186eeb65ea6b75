#include "updater/client/swap_recovery.h"

#include <exception>
#include <vector>

#include "updater/client/client_os.h"
#include "updater/client/installation.h"

namespace VirelantDesktop::update_client {

std::optional<std::string> ParkedFolder(const std::string& root) noexcept {
  try {
    if (os::IsFolder(root + "/" + kCurrentFolderName)) return std::nullopt;
    const std::string previous = root + "/" + kPreviousFolderName;
    if (os::IsFolder(previous)) return previous;
    std::vector<std::string> parked;
    for (const std::string& name : os::FoldersIn(root)) {
      if (name.starts_with(kApplyFolderPrefix) && name.ends_with(".old")) parked.push_back(name);
    }
    if (parked.size() != 1) return std::nullopt;
    return root + "/" + parked.front();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool RecoverCutSwap(const std::string& root) noexcept {
  const std::optional<std::string> parked = ParkedFolder(root);
  return parked && os::RestoreCurrentFolder(root + "/" + kCurrentFolderName, *parked);
}

}  // namespace VirelantDesktop::update_client
