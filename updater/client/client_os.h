// The operating-system tasks of the update client and its apply helper:
// package files written crash-safe, folders unpacked without following
// links, the helper started detached, a process's end awaited, and the new
// installation folder swapped in. Linux implementation in
// linux/client_os_linux.cpp; nothing else in updater/client includes system
// headers.
//
// Every failure throws OsError, whose message names the step and the path.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::update_client::os {

class OsError : public std::runtime_error {
 public:
  OsError(const std::string& step, const std::string& path, int error);
  int error() const noexcept { return error_; }

 private:
  int error_;
};

// --- Files -----------------------------------------------------------------

// Creates or truncates a regular file for writing (a symbolic link at `path`
// is refused, not followed).
platform::UniqueFd CreateFileForWriting(const std::string& path, unsigned mode);
// Opens an existing regular file read-only; links and other types are refused.
platform::UniqueFd OpenRegularFile(const std::string& path);
uint64_t FileSizeOf(int fd);
// Moves the file offset back to the start.
void Rewind(int fd, const std::string& path);
// A close-on-exec duplicate of `fd`.
platform::UniqueFd Duplicate(int fd, const std::string& path);
void WriteAll(int fd, const void* data, size_t size, const std::string& path);
// Up to `size` bytes; 0 at the end of the file.
size_t ReadSome(int fd, void* buffer, size_t size, const std::string& path);
void SyncFile(int fd, const std::string& path);
void SyncFolder(const std::string& path);
// rename(2): replaces a file at `to`.
void RenamePath(const std::string& from, const std::string& to);
// Removes a file; one that is already gone counts as removed. False on any
// other failure.
bool RemoveFile(const std::string& path) noexcept;
// Creates `path` and its missing parents with `mode`.
void MakeFolders(const std::string& path, unsigned mode);
// Names of the regular files (not links) directly in `folder`; empty when it
// does not exist.
std::vector<std::string> RegularFilesIn(const std::string& folder);
// Creates `path` with `content` only when nothing is there; false when
// something already is or it cannot be made.
bool CreateMarkerFile(const std::string& path, std::string_view content) noexcept;
// Removes the file at `path`; true only when this call removed it, so that
// of two processes only one consumes a marker.
bool ConsumeMarkerFile(const std::string& path) noexcept;
// Appends one line to a log file (created 0600), keeping it below `maxBytes`
// by starting it afresh when it is full. Best effort.
void AppendLogLine(const std::string& path, std::string_view line, uint64_t maxBytes) noexcept;

// --- Unpacking -------------------------------------------------------------

// Writes a tree below a folder made for it. Names are relative, already
// checked (zip_entry_rules.h); every step is relative to a descriptor of
// the folder above it and never follows a link.
class TreeWriter {
 public:
  // Creates `root` (which must not exist yet) with mode 0755.
  explicit TreeWriter(const std::string& root);
  ~TreeWriter();
  TreeWriter(const TreeWriter&) = delete;
  TreeWriter& operator=(const TreeWriter&) = delete;

  // Creates the folder and its missing parents; an existing folder is fine.
  void MakeFolder(std::string_view relative);
  // Creates a new file (its parents as needed); a name that exists already
  // (a duplicate entry) fails.
  platform::UniqueFd CreateFile(std::string_view relative, bool executable);
  // Flushes every folder made, deepest first, and the root.
  void SyncFolders();

 private:
  int OpenFolder(std::string_view relative, bool create);

  std::string root_;
  platform::UniqueFd rootFd_;
  std::vector<std::string> made_;  // relative folder names, in creation order
};

// Puts the folder `incoming` in the place of `current` and returns the path
// now holding the folder that was `current` ("" when there was none, in
// which case `incoming` is just moved there). Exchanged atomically
// (renameat2 RENAME_EXCHANGE) where the file system can, so `incoming` then
// names the old folder; elsewhere MoveInByRenames with `aside`. Every
// signal that can be held is held meanwhile, so an ordinary termination
// (SIGTERM at logout, SIGHUP, Ctrl-C) cannot fall between the renames. The
// parent folder is flushed (best effort: nothing is thrown once the swap is
// done).
std::string SwapInFolder(const std::string& incoming, const std::string& current, const std::string& aside);
// The swap without an exchange: `current` is renamed to `aside` (which must
// not exist), then `incoming` to `current`; when the second rename fails the
// first is undone. Between the two `current` is missing and `aside` holds
// the folder that was live, which is what RestoreCurrentFolder relies on.
// Returns `aside`.
std::string MoveInByRenames(const std::string& incoming, const std::string& current, const std::string& aside);
// Recovers from a swap cut between its renames: when nothing is at
// `current` and `aside` is a real folder, `aside` is renamed to `current`.
// True when it was; false when there was nothing to do or it failed.
bool RestoreCurrentFolder(const std::string& current, const std::string& aside) noexcept;
// A real folder (not a link) is at `path`.
bool IsFolder(const std::string& path) noexcept;
// The permission bits of the regular file at `path` (not followed); nullopt
// for anything else or nothing.
std::optional<unsigned> RegularFileMode(const std::string& path) noexcept;
// Removes a folder tree without following links; best effort.
void RemoveTree(const std::string& path) noexcept;
// Names of the real folders (not links) directly in `folder`; empty when it
// does not exist.
std::vector<std::string> FoldersIn(const std::string& folder);
// An exclusive lock on the file `path` (made when missing), held while the
// descriptor lives; an invalid descriptor when another process holds it.
platform::UniqueFd TryLockFile(const std::string& path);

// Holds every signal that can be held (all but SIGKILL and SIGSTOP) for the
// calling thread while it lives; those that arrive meanwhile are delivered
// when it ends.
class SignalsHeld {
 public:
  SignalsHeld() noexcept;
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  unsigned char saved_[128];  // the caller's sigset_t (no system header here)
};

// --- Processes -------------------------------------------------------------

// A pidfd for this process, -1 when the kernel has none (before 5.3).
int OpenOwnPidfd() noexcept;

// This process's arguments, program name first (from /proc/self/cmdline);
// empty when they cannot be read.
std::vector<std::string> OwnArguments();
// Starts `argv` (argv[0] an absolute path) so that it outlives us: double
// fork, a new session and process group, standard streams on /dev/null,
// default signal actions and an empty mask, working folder `workingDir`,
// our environment. `passFd` (when >= 0) arrives as descriptor 3; no other
// descriptor is inherited. Returns once the program runs (its exec
// succeeded); throws OsError otherwise.
void SpawnDetached(const std::vector<std::string>& argv, const std::string& workingDir, int passFd);
// Waits for the end of a process: through `pidfd` when >= 0 (no pid reuse
// race), else by polling `pid` (a zombie counts as ended). False when it
// still runs at the deadline.
bool WaitForProcessEnd(int pidfd, int pid, std::chrono::milliseconds timeout);
// `fd` when it is a pidfd for process `pid` (one handed to us by the
// client), else -1. Marked close-on-exec.
int InheritedPidfd(int fd, int pid) noexcept;

}  // namespace VirelantDesktop::update_client::os
