#include "platform/unique_fd.h"

#include <unistd.h>

namespace VirelantDesktop::platform {

void UniqueFd::Reset(int fd) noexcept {
  const int old = std::exchange(fd_, fd);
  // close() is not retried on EINTR: Linux releases the descriptor before
  // it can fail, so a retry could close a descriptor another thread has
  // just been given (close(2), "Dealing with error returns from close()").
  // Callers that must know whether written data reached the file use
  // fsync() and a plain close() before letting go of the descriptor.
  if (old >= 0 && old != fd) ::close(old);
}

}  // namespace VirelantDesktop::platform
