#include "platform/process_setup.h"

#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace VirelantDesktop::platform {

void IgnoreSigpipe() noexcept {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  // Cannot fail for a valid signal number with a valid handler.
  sigaction(SIGPIPE, &action, nullptr);
}

void MarkDescriptorsCloseOnExec(int firstFd) noexcept {
  // close_range(2) with CLOSE_RANGE_CLOEXEC (Linux 5.11) does it in one call.
  if (close_range(static_cast<unsigned>(firstFd), ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return;
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd < firstFd || fd == own) continue;
    const int flags = fcntl(static_cast<int>(fd), F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
  }
  closedir(dir);
}

void InitProcess() noexcept {
  IgnoreSigpipe();
  MarkDescriptorsCloseOnExec();
}

}  // namespace VirelantDesktop::platform

namespace VirelantDesktop::platform {

void NameCurrentThread(const char* name) noexcept {
  char truncated[16] = {};
  for (size_t i = 0; i < sizeof truncated - 1 && name[i] != '\0'; ++i) truncated[i] = name[i];
  pthread_setname_np(pthread_self(), truncated);
}

int CurrentProcessId() noexcept { return static_cast<int>(::getpid()); }

}  // namespace VirelantDesktop::platform
