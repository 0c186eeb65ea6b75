// Reading a file front to back in blocks, for callers that must not hold the
// whole file in memory (digests of package files).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

class FileReader {
 public:
  FileReader() = default;
  FileReader(FileReader&&) noexcept = default;
  FileReader& operator=(FileReader&&) noexcept = default;

  // Opens `path` read-only (close-on-exec), closing any file opened before.
  // False when it cannot be opened; Error() then holds errno.
  bool Open(const std::string& path);
  bool IsOpen() const noexcept { return fd_.IsValid(); }

  // Fills `buffer` with the next `size` bytes of the file; fewer only at its
  // end, 0 once the end is reached. Interrupted reads are retried. nullopt on
  // a read error (Error() holds errno) or when no file is open.
  std::optional<size_t> ReadBlock(void* buffer, size_t size);

  int Error() const noexcept { return error_; }

 private:
  UniqueFd fd_;
  int error_ = 0;
};

}  // namespace VirelantDesktop::platform
