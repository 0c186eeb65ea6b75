// Crash-safe replacement of a file's whole content.
//
// Write the data to a temporary file beside the target, flush it to disk,
// rename it over the target and flush the folder: after a crash the target
// holds either the old or the new content, never a mix or nothing.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace VirelantDesktop::platform {

struct AtomicWriteOptions {
  // The temporary file; empty means the target's path + ".tmp". One writer
  // per target at a time (callers serialise their own writes).
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
// is reported, though the new content is already in place.
AtomicWriteResult WriteFileAtomic(const std::string& path, std::string_view data,
                                  const AtomicWriteOptions& options = {});

const char* AtomicWriteStageName(AtomicWriteStage stage) noexcept;

}  // namespace VirelantDesktop::platform
