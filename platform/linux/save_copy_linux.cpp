#include "platform/save_copy.h"

#include <unistd.h>

#include <limits>

#include "platform/confined_file.h"
#include "platform/confined_tree.h"
#include "platform/file_writer.h"
#include "platform/temp_name.h"

namespace VirelantDesktop::platform {

bool SaveCopyOfOpenFile(const UniqueFd& source, const std::string& destination) {
  if (!source || destination.empty() || destination.front() != '/' || destination.back() == '/') return false;
  const size_t slash = destination.rfind('/');
  const std::string name = destination.substr(slash + 1);
  if (name == "." || name == "..") return false;
  const std::string parent = CanonicalPath(destination.substr(0, slash + 1));
  const UniqueFd parentFd = parent.empty() ? UniqueFd() : OpenFolderNoFollow(parent);
  if (!parentFd) return false;
  if (::lseek(source.Get(), 0, SEEK_SET) != 0) return false;
  // A short name of fixed length: the destination's own name may take all
  // 255 bytes a name can have.
  const std::string staging = RandomTempName();
  constexpr unsigned kNewFileMode = 0666;  // the umask and a default ACL apply
  if (!CopyOpenFileInto(source, parentFd, staging, std::numeric_limits<uint64_t>::max(), kNewFileMode).ok()) {
    return false;
  }
  // The mode stays what the umask gave the new file.
  SetOriginAndModeAt(parentFd, staging, OriginUrlOf(source), std::nullopt);
  int error = 0;
  if (!RenameAt(parentFd, staging, name, error)) {
    RemoveEntryAt(parentFd, staging);
    return false;
  }
  return true;
}

}  // namespace VirelantDesktop::platform
