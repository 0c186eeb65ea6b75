#include "modules/attach/staging_root.h"

#include "modules/media/media_root.h"
#include "platform/confined_tree.h"

namespace VirelantDesktop::attach {

std::string StagingRoot() {
  const std::string root = media::MediaRoot();
  if (root.empty()) return {};
  const std::string staging = root + "/" + media::kStagingEntry;
  if (!platform::CreateDirs(staging, 0700)) return {};
  if (platform::EntryTypeOf(staging) != platform::EntryType::Folder) return {};
  return staging;
}

}  // namespace VirelantDesktop::attach
