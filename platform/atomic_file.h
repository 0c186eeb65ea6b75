// Crash-safe replacement of a file's whole content.
//
// Write the data to a temporary file beside the target, flush it to disk,
// rename it over the target and flush the folder: after a crash the target
// holds either the old or the new content, never a mix or nothing.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

struct AtomicWriteOptions {
  // The temporary file; empty means TempNameFor(the target's name) in the
  // target's folder (platform/temp_name.h: 21 bytes, so a target name of
  // any allowed length has one). One writer per target at a time (callers
  // serialise their own writes).
  std::string tempPath;
  // Mode of the new file (before the umask).
  mode_t mode = 0600;
};

// The step that failed; each has its own code.
enum class AtomicWriteStage { None, CreateTemp, Write, SyncFile, Rename, SyncFolder };

struct AtomicWriteResult {
  AtomicWriteStage failedStage = AtomicWriteStage::None;
  int error = 0;  // errno of the failed step
  bool ok() const noexcept { return failedStage == AtomicWriteStage::None; }
};

// On any failure before the rename the temporary file is removed and the
// target is left as it was. A failure to flush the folder after the rename
// is reported, though the new content is already in place. A regular file
// already at the temporary path is the leftover of an interrupted write and
// is replaced; a link or anything else there fails the write. The folders
// of `path` are opened following links.
AtomicWriteResult WriteFileAtomic(const std::string& path, std::string_view data,
                                  const AtomicWriteOptions& options = {});

// The same for the file `name` in the open `folder`, with the temporary file
// TempNameFor(name) beside it; nothing outside `folder` is looked up by path.
AtomicWriteResult WriteFileAtomicAt(const UniqueFd& folder, const std::string& name, std::string_view data,
                                    mode_t mode = 0600);

// The temporary path WriteFileAtomic uses for `path` when none is given.
std::string DefaultTempPath(const std::string& path);

const char* AtomicWriteStageName(AtomicWriteStage stage) noexcept;

}  // namespace VirelantDesktop::platform
