#include "modules/media/media_root.h"

#include <algorithm>
#include <mutex>

#include "platform/confined_file.h"
#include "platform/confined_tree.h"
#include "platform/folders.h"

namespace VirelantDesktop::media {
namespace {

using platform::EntryType;
using platform::UniqueFd;

std::mutex g_rootLock;  // guards g_root
std::string g_root;

std::mutex g_stagingLock;  // guards g_stagingWiped; held across the staging wipe
bool g_stagingWiped = false;

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string ComputeRoot() {
  const auto cache = platform::UserCacheDir();
  if (!cache) return {};
  const std::string top = *cache + "/TALVEK-Cache";
  const std::string root = top + "/media/v1";
  if (!platform::CreateDirs(top, 0700) || !platform::CreateDirs(root, 0700)) return {};
  if (platform::EntryTypeOf(root) != EntryType::Folder) return {};  // the root itself may not be a link
  return platform::CanonicalPath(root);
}

// The part of `path` after "root/", or nullopt when `path` is not strictly
// below `root`.
std::optional<std::string_view> BelowRoot(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() <= root.size() + 1 || path.compare(0, root.size(), root) != 0 ||
      path[root.size()] != '/') {
    return std::nullopt;
  }
  return std::string_view(path).substr(root.size() + 1);
}

// Opens `path`, a folder at or below the root, walking down from the root
// without following any link on the way.
UniqueFd OpenBelowRoot(const std::string& root, const std::string& path) {
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  if (!rootFd || path == root) return rootFd;
  const auto relative = BelowRoot(root, path);
  return relative ? platform::OpenFolderBeneath(rootFd, *relative, false) : UniqueFd();
}

// Removes the file at `path` below the root: its folder is opened from the
// root without following links, the file itself is never followed.
bool RemoveFileBelowRoot(const std::string& root, const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return false;
  UniqueFd folder = OpenBelowRoot(root, path.substr(0, slash));
  return folder && platform::RemoveEntryAt(folder, path.substr(slash + 1));
}

void RemoveStagingTree(const std::string& root) {
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  if (rootFd) platform::RemoveTreeAt(rootFd, kStagingEntry);
}

}  // namespace

std::string MediaRoot() {
  std::lock_guard lock(g_rootLock);
  if (!g_root.empty() && platform::EntryTypeOf(g_root) == EntryType::Folder) return g_root;
  g_root = ComputeRoot();
  return g_root;
}

void ResetMediaRootForTesting() {
  std::lock_guard lock(g_rootLock);
  g_root.clear();
}

ScopeFolder OpenScopeDir(const CacheScope& scope) {
  const std::string root = MediaRoot();
  if (root.empty()) return {};
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  if (!rootFd) return {};
  const std::string relative = scope.uid + "/" + scope.ws + "/" + scope.thread;
  ScopeFolder folder{platform::OpenFolderBeneath(rootFd, relative, /*create=*/true, 0700), root + "/" + relative};
  // The folder reached without links must still lie inside the root.
  if (!folder.fd || platform::PathOfOpen(folder.fd) != folder.path) return {};
  return folder;
}

UniqueFd OpenFileBelowRoot(const std::string& root, const std::string& path) {
  const auto relative = BelowRoot(root, path);
  if (!relative) return {};
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  return rootFd ? platform::OpenFileBeneath(rootFd, *relative) : UniqueFd();
}

std::optional<platform::FolderEntry> FindCachedEntry(const UniqueFd& folder, std::string_view hash) {
  const std::string prefix = std::string(hash) + ".";
  for (platform::FolderEntry& entry : platform::ListFolder(folder)) {
    if (entry.type != EntryType::File || entry.name.compare(0, prefix.size(), prefix) != 0) continue;
    if (EndsWith(entry.name, kPartSuffix)) continue;
    return std::move(entry);
  }
  return std::nullopt;
}

std::vector<CacheFile> ListCacheFiles(const std::string& root, bool includePart) {
  std::vector<CacheFile> files;
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  if (!rootFd) return files;
  const auto skip = [includePart](std::string_view relativeFolder, const platform::FolderEntry& entry) {
    if (relativeFolder.empty() &&
        (entry.name == kTmpEntry || entry.name == kPendingWipeEntry || entry.name == kStagingEntry)) {
      return true;
    }
    return !includePart && entry.type == EntryType::File && EndsWith(entry.name, kPartSuffix);
  };
  platform::WalkFiles(rootFd, root, skip, [&files](const std::string& path, const platform::FolderEntry& file) {
    files.push_back({path, file.size, file.modifiedNs});
  });
  return files;
}

bool WipeRootEntries(const std::string& root) {
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  if (!rootFd) return false;
  bool allRemoved = true;
  for (const platform::FolderEntry& entry : platform::ListFolder(rootFd)) {
    if (entry.name == kPendingWipeEntry) continue;
    if (!platform::RemoveTreeAt(rootFd, entry.name)) allRemoved = false;
  }
  return allRemoved;
}

void RunHousekeeping(State& state) {
  std::lock_guard lock(state.housekeepingLock);
  if (state.housekeepingDone.exchange(true)) return;  // once, even when it fails
  const std::string root = MediaRoot();
  if (root.empty()) return;
  WipeStagingOnce();
  UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  if (!rootFd) return;
  if (platform::EntryTypeAt(rootFd, kPendingWipeEntry) != EntryType::Missing) {
    // An interrupted clear is finished before anything is served.
    if (WipeRootEntries(root)) platform::RemoveEntryAt(rootFd, kPendingWipeEntry);
    return;
  }
  platform::RemoveTreeAt(rootFd, kTmpEntry);
  for (const CacheFile& file : ListCacheFiles(root, /*includePart=*/true)) {
    if (EndsWith(file.path, kPartSuffix)) RemoveFileBelowRoot(root, file.path);
  }
}

void EnforceCacheCap(const std::string& justWritten) {
  const std::string root = MediaRoot();
  if (root.empty()) return;
  std::vector<CacheFile> files = ListCacheFiles(root, /*includePart=*/false);
  uint64_t total = 0;
  for (const CacheFile& file : files) total += file.size;
  if (total <= kCacheCapBytes) return;
  std::sort(files.begin(), files.end(),
            [](const CacheFile& a, const CacheFile& b) { return a.modifiedNs < b.modifiedNs; });
  for (const CacheFile& file : files) {
    if (total <= kCacheCapBytes) break;
    if (file.path == justWritten) continue;
    // Gone either way counts: the space is free.
    if (RemoveFileBelowRoot(root, file.path)) total -= file.size;
  }
}

void WipeStagingOnce() {
  std::lock_guard lock(g_stagingLock);
  if (g_stagingWiped) return;
  g_stagingWiped = true;
  const std::string root = MediaRoot();
  if (!root.empty()) RemoveStagingTree(root);
}

void WipeStaging() {
  std::lock_guard lock(g_stagingLock);
  g_stagingWiped = true;
  const std::string root = MediaRoot();
  if (!root.empty()) RemoveStagingTree(root);
}

void ResetStagingWipeForTesting() {
  std::lock_guard lock(g_stagingLock);
  g_stagingWiped = false;
}

}  // namespace VirelantDesktop::media
