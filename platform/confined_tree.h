// Folder work that never follows a symbolic link.
//
// Folders are opened with O_NOFOLLOW|O_DIRECTORY and entries are handled
// relative to an open folder, so a folder swapped for a link half-way
// through cannot lead the work outside the tree it started in. A link met
// on the way is refused (when opening a folder) or unlinked (when removing),
// never entered. New folders get mode 0700 unless asked otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

enum class EntryType { Missing, File, Folder, Link, Other };

struct FolderEntry {
  std::string name;
  EntryType type = EntryType::Other;
  uint64_t size = 0;        // files only
  int64_t modifiedNs = 0;   // last write, nanoseconds since the epoch
};

// Creates `path` and any missing parent with `mode`. True when it is a
// folder afterwards (an existing one keeps its mode).
bool CreateDirs(const std::string& path, unsigned mode = 0700);

// The path with every link resolved, or "" when it does not exist.
std::string CanonicalPath(const std::string& path);

// What `path` names, without following a link at its end.
EntryType EntryTypeOf(const std::string& path);

// Opens the folder `path`; fails (invalid handle) when its last component is a link.
UniqueFd OpenFolderNoFollow(const std::string& path);

// Opens the folder at `relative` ("a/b/c", no "." or "..") beneath `folder`,
// creating missing components with `mode` when `create`. Fails when any
// component is a link or not a folder.
UniqueFd OpenFolderBeneath(const UniqueFd& folder, std::string_view relative, bool create, unsigned mode = 0700);

// The canonical path of an open folder or file.
std::string PathOfOpen(const UniqueFd& fd);

EntryType EntryTypeAt(const UniqueFd& folder, const std::string& name);

// The entries of an open folder ("." and ".." left out), links not followed.
std::vector<FolderEntry> ListFolder(const UniqueFd& folder);

// Removes one entry: a file or a link (a link to a folder is unlinked, never
// followed). True when it is gone (also when it never existed); a real folder
// is not removed (false).
bool RemoveEntryAt(const UniqueFd& folder, const std::string& name);

// Removes an entry and, for a real folder, everything below it first. True
// when every single removal succeeded (a missing entry counts as removed).
bool RemoveTreeAt(const UniqueFd& folder, const std::string& name);

// Both of the above by path: the parent folder is opened first (following
// links above it), then the last component is handled without following.
bool RemovePath(const std::string& path);
bool RemoveTree(const std::string& path);

// Walks the files below `folder` (`prefix` names it in the paths reported),
// entering real folders only. `skip(relativeFolder, entry)` may leave out
// entries before they are reported or entered.
using TreeVisitor = std::function<void(const std::string& path, const FolderEntry& file)>;
using TreeFilter = std::function<bool(std::string_view relativeFolder, const FolderEntry& entry)>;
void WalkFiles(const UniqueFd& folder, const std::string& prefix, const TreeFilter& skip, const TreeVisitor& visit);

// The URL a file came from, kept in the extended attribute
// "user.xdg.origin.url". Setting it may fail silently (file systems without
// user attributes); reading gives "" when there is none.
void SetOriginUrl(const std::string& path, std::string_view url) noexcept;
std::string OriginUrl(const std::string& path);
// The same read on an open file.
std::string OriginUrlOf(const UniqueFd& file);

// Marks the regular file `name` in `folder` (a link there is refused) with
// its origin URL (none when `url` is empty; failures of the mark are
// ignored), then gives it `mode`, or keeps the mode it has when there is
// none. The mark goes first: once a file is read-only only a privileged
// process may change its user attributes. False when the file cannot be
// opened or the mode not set.
bool SetOriginAndModeAt(const UniqueFd& folder, const std::string& name, std::string_view url,
                        std::optional<unsigned> mode) noexcept;

}  // namespace VirelantDesktop::platform
