#include "platform/read_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

ReadFileResult ReadWholeFile(const std::string& path) {
  ReadFileResult result;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    result.error = errno;
    result.status = result.error == ENOENT || result.error == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
    return result;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n > 0) {
      result.data.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      result.status = ReadStatus::Ok;
      return result;
    } else if (errno != EINTR) {
      result.error = errno;
      result.data.clear();
      result.status = ReadStatus::Failed;
      return result;
    }
  }
}

}  // namespace VirelantDesktop::platform
