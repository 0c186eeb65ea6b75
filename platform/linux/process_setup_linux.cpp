#include "platform/process_setup.h"

#include <signal.h>

namespace VirelantDesktop::platform {

void IgnoreSigpipe() noexcept {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  // Cannot fail for a valid signal number with a valid handler.
  sigaction(SIGPIPE, &action, nullptr);
}

void InitProcess() noexcept { IgnoreSigpipe(); }

}  // namespace VirelantDesktop::platform
