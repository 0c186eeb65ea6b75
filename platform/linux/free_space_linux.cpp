#include "platform/free_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <limits>

namespace VirelantDesktop::platform {

std::optional<uint64_t> FreeSpaceForCaller(const std::string& path) noexcept {
  struct statvfs info {};
  int result = 0;
  do {
    result = statvfs(path.c_str(), &info);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return std::nullopt;
  const uint64_t blocks = info.f_bavail;
  const uint64_t blockSize = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  if (blockSize != 0 && blocks > std::numeric_limits<uint64_t>::max() / blockSize) {
    return std::numeric_limits<uint64_t>::max();
  }
  return blocks * blockSize;
}

}  // namespace VirelantDesktop::platform
