// Helper program for the executable-path tests: prints what it finds about
// itself, so a test can run a copy of it from any folder it likes.
//   line 1: ExecutablePath() or "-"
//   line 2: ExecutableDir() or "-"
#include <cstdio>

#include "platform/folders.h"

int main() {
  const auto path = VirelantDesktop::platform::ExecutablePath();
  const auto dir = VirelantDesktop::platform::ExecutableDir();
  std::printf("%s\n%s\n", path ? path->c_str() : "-", dir ? dir->c_str() : "-");
  return std::fflush(stdout) == 0 ? 0 : 1;
}
