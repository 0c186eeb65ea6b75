// The media cache's root folder and the file operations on it.
//
// MediaRoot is the per-user cache folder + "/TALVEK-Cache/media/v1", owner
// only (folders 0700, files 0600, cached files 0444). It is computed once,
// re-checked on every use and built again when it disappeared. Below it:
//
//   uid/ws/thread/hash.ext   a cached file (read-only)
//   uid/ws/thread/hash.part  a download in progress
//   tmp/GUID/name            a copy with a friendly name, handed out
//   up/                      the attachment staging area
//   pending-wipe             a clear was started and has not finished
//
// No operation here follows a symbolic link below the root, and none can
// read, write or delete outside it: paths below the root are walked from the
// root's open folder with O_NOFOLLOW at every level.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/media/cache_scope.h"
#include "modules/media/media_state.h"
#include "platform/confined_tree.h"
#include "platform/unique_fd.h"

namespace VirelantDesktop::media {

inline constexpr uint64_t kCacheCapBytes = uint64_t{1} << 30;
inline constexpr const char* kTmpEntry = "tmp";
inline constexpr const char* kStagingEntry = "up";
inline constexpr const char* kPendingWipeEntry = "pending-wipe";
inline constexpr const char* kPartSuffix = ".part";

// The canonical root, or "" when it cannot be had: no cache folder, a
// folder that cannot be made, or a root that is itself a symbolic link (a
// link higher up is fine).
std::string MediaRoot();
// Test-only: forget the computed root (the cache folder variable changed).
void ResetMediaRootForTesting();

// A scope folder held open, with its path.
struct ScopeFolder {
  platform::UniqueFd fd;
  std::string path;
  explicit operator bool() const noexcept { return fd.IsValid(); }
};

// MediaRoot/uid/ws/thread, made as needed and opened by walking down from
// the root; invalid when the root is unavailable or any folder on the way is
// a link or not a folder (a link is refused, never followed or replaced).
ScopeFolder OpenScopeDir(const CacheScope& scope);

// The regular file `path`, strictly inside `root`, opened for reading by
// walking down from the root without following a link at any level;
// invalid otherwise.
platform::UniqueFd OpenFileBelowRoot(const std::string& root, const std::string& path);

// The finished file hash.* in the open `folder` (not a folder or link, not
// ".part"): its entry, or nullopt.
std::optional<platform::FolderEntry> FindCachedEntry(const platform::UniqueFd& folder, std::string_view hash);

struct CacheFile {
  std::string path;
  uint64_t size = 0;
  int64_t modifiedNs = 0;  // last write: the recency mark
};

// Every file below `root`, links and the root's own "tmp", "pending-wipe"
// and "up" left out; ".part" files only when `includePart`.
std::vector<CacheFile> ListCacheFiles(const std::string& root, bool includePart);

// Removes every entry of the root but the "pending-wipe" marker; true when
// every removal succeeded.
bool WipeRootEntries(const std::string& root);

// Once per module instance, before a worker first touches the files: the
// staging wipe, the completion of an interrupted clear, then the clean-up
// of "tmp" and of partial downloads.
void RunHousekeeping(State& state);

// Evicts the least recently written files until the cache holds at most
// 1 GiB; never `justWritten`. The caller holds the store lock.
void EnforceCacheCap(const std::string& justWritten);

// The first call in the process removes MediaRoot/up; later calls do nothing.
void WipeStagingOnce();
// Removes MediaRoot/up now and counts as the once-per-process wipe.
void WipeStaging();
// Test-only: the next WipeStagingOnce wipes again.
void ResetStagingWipeForTesting();

}  // namespace VirelantDesktop::media
