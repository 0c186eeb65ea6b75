#include "modules/attach/staging_ops.h"

#include <chrono>
#include <utility>
#include <vector>

#include "modules/attach/attach_types.h"
#include "modules/attach/staging_root.h"
#include "platform/base64.h"
#include "platform/confined_file.h"
#include "platform/confined_tree.h"

namespace VirelantDesktop::attach {
namespace {

using platform::EntryType;
using platform::UniqueFd;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The staged item's folder, opened from the staging root without following
// a link anywhere on the way; invalid when `path` is no staged item's path.
UniqueFd OpenItemFolder(const std::string& path, UniqueFd& root, StagedItemPath& item) {
  const std::string staging = StagingRoot();
  auto parsed = ParseStagedItemPath(path, staging);
  if (!parsed) return {};
  item = std::move(*parsed);
  root = platform::OpenFolderNoFollow(staging);
  if (!root || platform::EntryTypeAt(root, item.folder) != EntryType::Folder) return {};
  return platform::OpenFolderBeneath(root, item.folder, /*create=*/false);
}

}  // namespace

void PruneStaging() {
  const std::string staging = StagingRoot();
  if (staging.empty()) return;
  UniqueFd root = platform::OpenFolderNoFollow(staging);
  if (!root) return;
  const int64_t now = NowNs();
  // Collected first, removed after: the folder is not changed while read.
  std::vector<std::string> expired;
  for (const platform::FolderEntry& entry : platform::ListFolder(root)) {
    if (now - entry.modifiedNs >= kStagingMaxAgeNs) expired.push_back(entry.name);
  }
  for (const std::string& name : expired) platform::RemoveTreeAt(root, name);
}

uint64_t StagingSize(const std::string& folder) {
  UniqueFd fd = platform::OpenFolderNoFollow(folder);
  if (!fd) return 0;
  uint64_t total = 0;
  platform::WalkFiles(fd, folder, nullptr,
                      [&total](const std::string&, const platform::FolderEntry& file) { total += file.size; });
  return total;
}

bool DiscardStaged(const std::string& path) {
  UniqueFd root;
  StagedItemPath item;
  if (!OpenItemFolder(path, root, item)) return false;
  return platform::RemoveTreeAt(root, item.folder);
}

std::string ReadStagedBase64(const std::string& path, uint64_t maxBytes) {
  if (maxBytes == 0 || path.empty()) return {};
  UniqueFd root;
  StagedItemPath item;
  UniqueFd folder = OpenItemFolder(path, root, item);
  if (!folder) return {};
  std::string data;
  if (!platform::ReadFileAt(folder, item.file, maxBytes, data).ok()) return {};
  return platform::Base64Encode(data);
}

}  // namespace VirelantDesktop::attach
