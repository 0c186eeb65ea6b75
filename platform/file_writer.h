// Writing files beneath an open folder without following links: a new file
// written chunk by chunk, the rename that puts it in place, and the
// last-write mark (copies are in confined_file.h). Failures report the errno
// value (0 on success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/confined_tree.h"
#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

// A file created by this process (it did not exist before).
class NewFile {
 public:
  NewFile() = default;
  // Creates `name` in `folder` exclusively (a link or any existing entry
  // fails) with `mode`.
  static NewFile CreateAt(const UniqueFd& folder, const std::string& name, unsigned mode, int& error);

  // Writes all of `data`; false with `error` on a failed or short write.
  // Every few MiB the written part is handed to the disk without waiting,
  // so Finish's flush of a large file waits for its last part only.
  bool Write(const void* data, size_t size, int& error) noexcept;
  // Flushes to the disk and closes; false with `error` when either fails.
  bool Finish(int& error) noexcept;
  explicit operator bool() const noexcept { return fd_.IsValid(); }

 private:
  UniqueFd fd_;
  uint64_t written_ = 0;        // bytes written so far
  uint64_t writebackFrom_ = 0;  // where the part not yet handed to the disk starts
};

// Renames `from` to `to`, both in `folder`, replacing an existing `to`.
bool RenameAt(const UniqueFd& folder, const std::string& from, const std::string& to, int& error) noexcept;

struct FileStatus {
  EntryType type = EntryType::Missing;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
};
// What `path` names, a link at its end not followed.
FileStatus StatusOf(const std::string& path) noexcept;
// Sets the last-write time of the file `path` to now (a link is not followed).
bool TouchModified(const std::string& path) noexcept;
// Nanoseconds since the epoch, by the clock file times use.
int64_t FileClockNowNs() noexcept;

}  // namespace VirelantDesktop::platform
