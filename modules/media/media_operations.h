// The media cache's operations other than downloading: look-up, removal,
// clearing, the size report, and the ways a cached file leaves the cache
// (a named copy, a copy saved elsewhere, opening and revealing). Each runs
// on a worker thread and reports its outcome as a value or a code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/js_value.h"
#include "modules/media/cache_scope.h"
#include "modules/media/media_state.h"

namespace VirelantDesktop::media {

inline constexpr const char* kPathDenied = "path_denied";
inline constexpr const char* kBlockedType = "blocked_type";
inline constexpr const char* kSaveFailed = "save_failed";
inline constexpr const char* kOpenFailed = "open_failed";
inline constexpr size_t kKeptCopies = 20;  // materialised copies kept, the newest included

// Pure: the type a cached file's extension stands for.
const char* MimeOfExtension(std::string_view ext) noexcept;
// Pure: the extensions a materialised copy may be opened with.
bool IsOpenableExtension(std::string_view ext) noexcept;
// Pure: the name a copy gets: `name` cleaned for a file name; when that has
// no extension, the extension of `cachedPath`'s file is added, the name cut
// so that the whole stays within 255 bytes.
std::string DisplayName(std::string_view name, std::string_view cachedPath);

// Blocks while a clear is running.
void WaitWhileWiping(State& state);

// The canonical path of a finished cached file (or, with `materialisedOnly`,
// of a materialised copy); nullopt when `path` is not one.
std::optional<std::string> GuardCachePath(const std::string& path, bool materialisedOnly);

// {"path", "bytes", "mime"} of the cached file of `url`, or null. A file not
// written for a minute gets its last-write time renewed.
JSValue Peek(State& state, const CacheScope& scope, std::string_view url);
// Stops a disk download of `url` ("changed"), marks the scope changed and
// deletes the cached file and its ".part".
void Remove(State& state, const CacheScope& scope, std::string_view url);
// Stops the scope's downloads ("changed") and deletes its folder; false when
// there is no cache root.
bool RemoveThread(State& state, const CacheScope& scope);
// Stops every download ("canceled") and deletes everything, or only `uid`'s
// folder (with "tmp" and "up"). False when the removal failed; the
// "pending-wipe" marker then stays for the next start.
bool Clear(State& state, const std::optional<std::string>& uid);
// {"bytes", "files"} of the finished cached files.
JSValue Stats(State& state);

struct CopyOutcome {
  std::string path;  // the copy's path on success
  const char* code;  // null on success
};
// A read-only copy of the cached file `path` under "tmp" with a friendly
// name, marked with its origin; older copies beyond the newest 20 go.
CopyOutcome Materialize(State& state, const std::string& path, std::string_view name);
// The guard and the name of a save: the cached file's canonical path and the
// name to suggest, or "path_denied".
struct SavePlan {
  std::string source;
  std::string displayName;
  const char* code;  // null when allowed
};
SavePlan PlanSaveCopy(State& state, const std::string& path, std::string_view name);
// Copies `source` to `destination` chosen by the user: written beside it
// first and renamed over it, so a failed copy leaves the old file in place.
// Remembers the destination for RevealAllowed.
bool SaveCopyTo(State& state, const std::string& source, const std::string& destination);
// The canonical path of a file saved in this run, or nullopt.
std::optional<std::string> RevealAllowed(State& state, const std::string& path);

}  // namespace VirelantDesktop::media
