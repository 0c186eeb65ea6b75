#include "platform/file_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace VirelantDesktop::platform {

bool FileReader::Open(const std::string& path) {
  fd_.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  error_ = fd_ ? 0 : errno;
  return fd_.IsValid();
}

std::optional<size_t> FileReader::ReadBlock(void* buffer, size_t size) {
  if (!fd_) {
    error_ = EBADF;
    return std::nullopt;
  }
  char* out = static_cast<char*>(buffer);
  size_t filled = 0;
  while (filled < size) {
    const ssize_t n = read(fd_.Get(), out + filled, size - filled);
    if (n > 0) {
      filled += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error_ = errno;
      return std::nullopt;
    }
  }
  return filled;
}

}  // namespace VirelantDesktop::platform
