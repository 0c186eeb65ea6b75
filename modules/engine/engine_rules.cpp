#include "modules/engine/engine_rules.h"

#include <cmath>

namespace VirelantDesktop::engine {

std::string SpawnFailedMessage(platform::JobSpawnStep step, uint32_t win32Error) {
  using platform::JobSpawnStep;
  const std::string number = std::to_string(win32Error);
  switch (step) {
    case JobSpawnStep::Pipe:
      return "엔진 기동 실패 (pipe, Win32 error " + number + ")";
    case JobSpawnStep::NullDevice:
      return "엔진 기동 실패 (NUL)";
    case JobSpawnStep::Attributes:
      return "엔진 기동 실패 (attr, Win32 error " + number + ")";
    case JobSpawnStep::Job:
      return "엔진 기동 실패 (job object)";
    case JobSpawnStep::Process:
      return "엔진 기동 실패 (Win32 error " + number + ")";
    case JobSpawnStep::Assign:
      return "엔진 기동 실패 (job assign, Win32 error " + number + ")";
  }
  return kSpawnExceptionMessage;
}

uint32_t GracefulWaitMs(double requested) noexcept {
  if (!(requested > 0)) return 0;  // negative, zero and NaN
  if (requested >= kMaxGracefulWaitMs) return kMaxGracefulWaitMs;
  return static_cast<uint32_t>(std::trunc(requested));
}

int32_t ExitEventCode(const platform::ProcessExit& exit, bool terminatedByUs) noexcept {
  if (!exit.signaled) return static_cast<int32_t>(exit.value);
  if (terminatedByUs && exit.killed) return 1;
  return -static_cast<int32_t>(exit.value);
}

}  // namespace VirelantDesktop::engine
