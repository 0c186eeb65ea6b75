#include "platform/profile_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace VirelantDesktop::platform {
namespace {

int64_t Nanoseconds(int64_t seconds, int64_t nanoseconds) { return seconds * 1000000000 + nanoseconds; }

}  // namespace

UniqueFd CreateLockedMarker(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return {};
  int locked;
  do {
    locked = flock(fd.Get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return {};
  // Truncated only once it is ours: a held marker is never touched.
  if (ftruncate(fd.Get(), 0) != 0) return {};
  return fd;
}

MarkerState ProbeMarker(const std::string& path) {
  // O_NONBLOCK: a FIFO put in the marker's place must not stall the caller.
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return errno == ENOENT ? MarkerState::Missing : MarkerState::Held;
  int locked;
  do {
    locked = flock(fd.Get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return MarkerState::Held;  // EWOULDBLOCK, or a lock we cannot judge
  flock(fd.Get(), LOCK_UN);
  return MarkerState::Free;
}

std::optional<int64_t> FolderAgeMs(const std::string& path) {
  int64_t bornNs = 0;
  struct statx info {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &info) == 0) {
    if (info.stx_mask & STATX_BTIME) {
      bornNs = Nanoseconds(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
    } else if (info.stx_mask & STATX_CTIME) {
      bornNs = Nanoseconds(info.stx_ctime.tv_sec, info.stx_ctime.tv_nsec);
    } else {
      return std::nullopt;
    }
  } else {
    // Kernels or sandboxes without statx: the change time from lstat.
    struct stat old {};
    if (errno != ENOSYS || lstat(path.c_str(), &old) != 0) return std::nullopt;
    bornNs = Nanoseconds(old.st_ctim.tv_sec, old.st_ctim.tv_nsec);
  }
  timespec now {};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
  return (Nanoseconds(now.tv_sec, now.tv_nsec) - bornNs) / 1000000;
}

bool CreateNewFolder(const std::string& path, unsigned mode) {
  return !path.empty() && mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool RenameEntry(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

}  // namespace VirelantDesktop::platform
