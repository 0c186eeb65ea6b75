// Writing files beneath an open folder without following links: a new file
// written chunk by chunk, the rename that puts it in place, and the
// last-write mark (copies are in confined_file.h). Failures report the errno
// value (0 on success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/confined_tree.h"
#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

// Flushes a file to the disk while it is being written, on a thread of its
// own, a step of a few MiB at a time: the flush that ends the writing then
// finds only the last step left instead of the whole file. The writer tells
// it how many bytes it has written after each write. A failed step is kept
// (the kernel reports a lost write to one flush only), so after the final
// flush ask Stop() as well.
class BackgroundFlush {
 public:
  explicit BackgroundFlush(int fd) noexcept;
  ~BackgroundFlush();  // Stop()
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;

  // The file now holds `totalBytes` written by this writer.
  void Written(uint64_t totalBytes) noexcept;
  // Ends the flushing once the steps asked for are done; the errno value
  // of the first failed step, 0 when none failed.
  int Stop() noexcept;

 private:
  struct Worker;
  const int fd_;
  uint64_t stepStart_ = 0;          // the writer's: where the current step began
  std::unique_ptr<Worker> worker_;  // started with the first step
};

// A file created by this process (it did not exist before).
class NewFile {
 public:
  NewFile() = default;
  NewFile(NewFile&&) noexcept = default;
  // The flushing of the old file stops before its descriptor is closed.
  NewFile& operator=(NewFile&& other) noexcept;
  ~NewFile() = default;  // the flushing member goes before the descriptor
  // Creates `name` in `folder` exclusively (a link or any existing entry
  // fails) with `mode`.
  static NewFile CreateAt(const UniqueFd& folder, const std::string& name, unsigned mode, int& error);

  // Writes all of `data`; false with `error` on a failed or short write.
  // A large file is flushed to the disk in steps while it grows.
  bool Write(const void* data, size_t size, int& error) noexcept;
  // Flushes to the disk and closes; false with `error` when either fails.
  bool Finish(int& error) noexcept;
  explicit operator bool() const noexcept { return fd_.IsValid(); }

 private:
  UniqueFd fd_;
  uint64_t written_ = 0;
  std::unique_ptr<BackgroundFlush> flush_;  // after fd_: destroyed first
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
// Sets the last-write time of the entry `name` of the open `folder` to now (a
// link is not followed).
bool TouchModifiedAt(const UniqueFd& folder, const std::string& name) noexcept;
// Nanoseconds since the epoch, by the clock file times use.
int64_t FileClockNowNs() noexcept;

}  // namespace VirelantDesktop::platform
