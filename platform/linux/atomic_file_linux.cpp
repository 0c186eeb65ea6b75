#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

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
UniqueFd CreateTemp(const std::string& temp, mode_t mode, int& error) {
  UniqueFd fd(::open(temp.c_str(), kCreateFlags, mode));
  if (fd) return fd;
  if (errno != EEXIST) {
    error = errno;
    return fd;
  }
  struct stat info {};
  if (::lstat(temp.c_str(), &info) != 0) {
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
  if (::unlink(temp.c_str()) != 0 && errno != ENOENT) {
    error = errno;
    return {};
  }
  fd.Reset(::open(temp.c_str(), kCreateFlags, mode));
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

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes the rename itself durable: the new folder entry is only on disk
// once the folder has been flushed (fsync(2), NOTES).
int SyncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return errno;
  if (::fsync(fd.Get()) != 0) return errno;
  return 0;
}

}  // namespace

AtomicWriteResult WriteFileAtomic(const std::string& path, std::string_view data,
                                  const AtomicWriteOptions& options) {
  const std::string temp = options.tempPath.empty() ? path + ".tmp" : options.tempPath;
  // A temporary file that is the target itself would be removed as a
  // leftover: refuse rather than lose the old content.
  if (path.empty() || temp == path) return Failure(AtomicWriteStage::CreateTemp, EINVAL);

  int error = 0;
  UniqueFd fd = CreateTemp(temp, options.mode, error);
  if (!fd) return Failure(AtomicWriteStage::CreateTemp, error);

  auto discard = [&temp](AtomicWriteStage stage, int failure) {
    ::unlink(temp.c_str());
    return Failure(stage, failure);
  };

  if (int failure = WriteAll(fd.Get(), data); failure != 0) {
    return discard(AtomicWriteStage::Write, failure);
  }
  if (::fsync(fd.Get()) != 0) return discard(AtomicWriteStage::SyncFile, errno);
  // Some file systems (NFS) report write errors only on close.
  if (::close(fd.Release()) != 0) return discard(AtomicWriteStage::Write, errno);

  if (::rename(temp.c_str(), path.c_str()) != 0) {
    return discard(AtomicWriteStage::Rename, errno);
  }

  if (int failure = SyncFolder(ParentFolder(path)); failure != 0) {
    return Failure(AtomicWriteStage::SyncFolder, failure);
  }
  return {};
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
