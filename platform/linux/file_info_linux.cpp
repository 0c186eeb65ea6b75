#include "platform/file_info.h"

#include <sys/stat.h>

namespace VirelantDesktop::platform {

PathKind KindOfPath(const std::string& path) noexcept {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return PathKind::Missing;
  return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::Other;
}

}  // namespace VirelantDesktop::platform
