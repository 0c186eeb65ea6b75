#include "platform/file_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace VirelantDesktop::platform {
namespace {

// How much written data may wait before its write-out is started.
constexpr uint64_t kWritebackStepBytes = uint64_t{2} << 20;

}  // namespace

NewFile NewFile::CreateAt(const UniqueFd& folder, const std::string& name, unsigned mode, int& error) {
  NewFile file;
  file.fd_.Reset(openat(folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode)));
  error = file.fd_ ? 0 : errno;
  return file;
}

bool NewFile::Write(const void* data, size_t size, int& error) noexcept {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_.Get(), next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? errno : EIO;
      return false;
    }
    next += written;
    size -= static_cast<size_t>(written);
    written_ += static_cast<uint64_t>(written);
  }
  if (written_ - writebackFrom_ >= kWritebackStepBytes) {
    // Starts the write-out only; a failure shows in Finish's flush.
    sync_file_range(fd_.Get(), static_cast<off64_t>(writebackFrom_), static_cast<off64_t>(written_ - writebackFrom_),
                    SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = written_;
  }
  return true;
}

bool NewFile::Finish(int& error) noexcept {
  error = 0;
  if (fdatasync(fd_.Get()) != 0) error = errno;
  if (close(fd_.Release()) != 0 && error == 0) error = errno;
  return error == 0;
}

bool RenameAt(const UniqueFd& folder, const std::string& from, const std::string& to, int& error) noexcept {
  error = renameat(folder.Get(), from.c_str(), folder.Get(), to.c_str()) == 0 ? 0 : errno;
  return error == 0;
}

FileStatus StatusOf(const std::string& path) noexcept {
  FileStatus status;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return status;
  status.type = S_ISREG(info.st_mode)   ? EntryType::File
                : S_ISDIR(info.st_mode) ? EntryType::Folder
                : S_ISLNK(info.st_mode) ? EntryType::Link
                                        : EntryType::Other;
  status.size = static_cast<uint64_t>(info.st_size);
  status.modifiedNs = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  return status;
}

bool TouchModified(const std::string& path) noexcept {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t FileClockNowNs() noexcept {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace VirelantDesktop::platform
