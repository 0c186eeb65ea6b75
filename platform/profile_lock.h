// Liveness markers for per-process folders.
//
// A process that owns a folder keeps a marker file in it open and locked
// with an exclusive flock(2) for as long as it lives; the kernel drops the
// lock when the process ends, however it ends. Another process tells a live
// owner from a dead one by trying the same lock. Every descriptor here is
// close-on-exec, so a child process never keeps an owner "alive".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

// Creates (or truncates) the marker `path` with mode 0600 and takes its lock
// without waiting. Invalid, with nothing left open, when the file cannot be
// made, is a link, or its lock is held elsewhere. The lock lasts as long as
// the returned descriptor stays open.
UniqueFd CreateLockedMarker(const std::string& path);

enum class MarkerState {
  Missing,  // no marker
  Held,     // locked by a live owner, or it could not be looked at
  Free,     // present and unlocked: its owner is gone
};

// Tries the marker's lock and lets go of it at once. A lock held through
// another open of the file by this very process also counts as Held.
MarkerState ProbeMarker(const std::string& path);

// Milliseconds since `path` (not followed when a link) came into being: its
// birth time where the file system keeps one, else its last status change.
// Negative when that lies in the future (a clock set back); nullopt when the
// entry cannot be looked at.
std::optional<int64_t> FolderAgeMs(const std::string& path);

// Makes the folder `path` with `mode`. True only when this call made it: an
// existing entry, of whatever kind, gives false.
bool CreateNewFolder(const std::string& path, unsigned mode = 0700);

// rename(2): `from` (a link is moved as a link) takes the place of `to`.
bool RenameEntry(const std::string& from, const std::string& to);

}  // namespace VirelantDesktop::platform
