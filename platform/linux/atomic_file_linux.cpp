#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/temp_name.h"

namespace VirelantDesktop::platform {
namespace {

AtomicWriteResult Failure(AtomicWriteStage stage, int error) {
  return AtomicWriteResult{stage, error};
}

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;

// Creates the temporary file afresh, so it gets `mode` and our ownership.
// A regular file already there is the leftover of an interrupted write and
// is removed first; a symlink or anything else is left alone and reported
// (O_EXCL never follows a symlink at the final component, see open(2)).
UniqueFd CreateTemp(const UniqueFd& folder, const std::string& temp, mode_t mode, int& error) {
  UniqueFd fd(::openat(folder.Get(), temp.c_str(), kCreateFlags, mode));
  if (fd) return fd;
  if (errno != EEXIST) {
    error = errno;
    return fd;
  }
  struct stat info {};
  if (::fstatat(folder.Get(), temp.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
    return {};
  }
  if (S_ISLNK(info.st_mode)) {
    error = ELOOP;  // what O_NOFOLLOW reports for a symlink
    return {};
  }
  if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
    return {};
  }
  if (::unlinkat(folder.Get(), temp.c_str(), 0) != 0 && errno != ENOENT) {
    error = errno;
    return {};
  }
  fd.Reset(::openat(folder.Get(), temp.c_str(), kCreateFlags, mode));
  if (!fd) error = errno;
  return fd;
}

// write(2) may write less than asked (a signal, a full disk part-way) and
// may be interrupted before writing anything.
int WriteAll(int fd, std::string_view data) {
  const char* next = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;  // no progress on a regular file: give up
    next += written;
    left -= static_cast<size_t>(written);
  }
  return 0;
}

// "dir/name" -> "dir" and "name"; "name" -> "." and "name"; "/name" -> "/".
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

UniqueFd OpenFolder(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

AtomicWriteResult WriteThroughTemp(const UniqueFd& tempFolder, const std::string& tempName,
                                   const UniqueFd& folder, const std::string& name, std::string_view data,
                                   mode_t mode) {
  int error = 0;
  UniqueFd fd = CreateTemp(tempFolder, tempName, mode, error);
  if (!fd) return Failure(AtomicWriteStage::CreateTemp, error);

  auto discard = [&](AtomicWriteStage stage, int failure) {
    ::unlinkat(tempFolder.Get(), tempName.c_str(), 0);
    return Failure(stage, failure);
  };

  if (int failure = WriteAll(fd.Get(), data); failure != 0) {
    return discard(AtomicWriteStage::Write, failure);
  }
  if (::fsync(fd.Get()) != 0) return discard(AtomicWriteStage::SyncFile, errno);
  // Some file systems (NFS) report write errors only on close.
  if (::close(fd.Release()) != 0) return discard(AtomicWriteStage::Write, errno);

  if (::renameat(tempFolder.Get(), tempName.c_str(), folder.Get(), name.c_str()) != 0) {
    return discard(AtomicWriteStage::Rename, errno);
  }
  // The rename itself is durable only once the folder has been flushed
  // (fsync(2), NOTES).
  if (::fsync(folder.Get()) != 0) return Failure(AtomicWriteStage::SyncFolder, errno);
  return {};
}

}  // namespace

std::string DefaultTempPath(const std::string& path) {
  std::string folder, name;
  SplitPath(path, folder, name);
  return (folder == "/" ? "" : folder) + "/" + TempNameFor(name);
}

AtomicWriteResult WriteFileAtomic(const std::string& path, std::string_view data,
                                  const AtomicWriteOptions& options) {
  const std::string temp = options.tempPath.empty() ? DefaultTempPath(path) : options.tempPath;
  // A temporary file that is the target itself would be removed as a
  // leftover: refuse rather than lose the old content.
  if (path.empty() || path.back() == '/' || temp == path) return Failure(AtomicWriteStage::CreateTemp, EINVAL);

  std::string folderPath, name, tempFolderPath, tempName;
  SplitPath(path, folderPath, name);
  SplitPath(temp, tempFolderPath, tempName);
  if (tempName.empty()) return Failure(AtomicWriteStage::CreateTemp, EINVAL);
  const UniqueFd folder = OpenFolder(folderPath);
  if (!folder) return Failure(AtomicWriteStage::CreateTemp, errno);
  if (tempFolderPath == folderPath) return WriteThroughTemp(folder, tempName, folder, name, data, options.mode);
  const UniqueFd tempFolder = OpenFolder(tempFolderPath);
  if (!tempFolder) return Failure(AtomicWriteStage::CreateTemp, errno);
  return WriteThroughTemp(tempFolder, tempName, folder, name, data, options.mode);
}

AtomicWriteResult WriteFileAtomicAt(const UniqueFd& folder, const std::string& name, std::string_view data,
                                    mode_t mode) {
  if (!folder) return Failure(AtomicWriteStage::CreateTemp, EBADF);
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return Failure(AtomicWriteStage::CreateTemp, EINVAL);
  }
  const std::string temp = TempNameFor(name);
  if (temp == name) return Failure(AtomicWriteStage::CreateTemp, EINVAL);
  return WriteThroughTemp(folder, temp, folder, name, data, mode);
}

const char* AtomicWriteStageName(AtomicWriteStage stage) noexcept {
  switch (stage) {
    case AtomicWriteStage::None:
      return "none";
    case AtomicWriteStage::CreateTemp:
      return "create_temp";
    case AtomicWriteStage::Write:
      return "write";
    case AtomicWriteStage::SyncFile:
      return "sync_file";
    case AtomicWriteStage::Rename:
      return "rename";
    case AtomicWriteStage::SyncFolder:
      return "sync_folder";
  }
  return "unknown";
}

}  // namespace VirelantDesktop::platform
