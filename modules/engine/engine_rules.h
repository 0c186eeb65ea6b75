// The engine host's fixed texts and small rules, free of I/O.
#pragma once

#include <cstdint>
#include <string>

#include "platform/job_process.h"

namespace VirelantDesktop::engine {

// Rejection codes and messages, as JavaScript sees them.
inline constexpr const char* kEngineMissingCode = "engine_missing";
inline constexpr const char* kEngineMissingMessage = "번들 엔진을 찾을 수 없음";
inline constexpr const char* kAlreadyRunningCode = "already_running";
inline constexpr const char* kAlreadyRunningMessage = "엔진이 이미 실행 중";
inline constexpr const char* kSpawnFailedCode = "spawn_failed";
inline constexpr const char* kSpawnExceptionMessage = "엔진 기동 실패 (예외)";
inline constexpr const char* kNotRunningCode = "not_running";
inline constexpr const char* kNotRunningMessage = "엔진이 실행 중이 아님";
inline constexpr const char* kWriteFailedCode = "write_failed";
inline constexpr const char* kWriteFailedMessage = "stdin 쓰기 실패";

// Event names.
inline constexpr const char* kLineEvent = "EngineHost.evt";
inline constexpr const char* kExitEvent = "EngineHost.exit";

// Outcomes of the stop paths.
inline constexpr const char* kOutcomeNotRunning = "not_running";
inline constexpr const char* kOutcomeQuit = "quit";
inline constexpr const char* kOutcomeEof = "eof";
inline constexpr const char* kOutcomeKilled = "killed";

// The engine shipped with the shell, relative to the executable's folder.
inline constexpr const char* kBundledEngineRelativePath = "/engine/talvek-engine";

// The "spawn_failed" message for the step that failed; `win32Error` is the
// Win32 number of the step's error, where the message carries one.
std::string SpawnFailedMessage(platform::JobSpawnStep step, uint32_t win32Error);

// "stopGraceful"'s wait per phase: the argument clamped to 0 ... 600000 ms,
// the fraction cut off; anything that is not a number waits 0.
uint32_t GracefulWaitMs(double requested) noexcept;
inline constexpr uint32_t kMaxGracefulWaitMs = 600000;

// "code" of the exit event: the exit status for a normal exit; 1 when our
// own terminate ended it (the job's terminate uses exit code 1); -N for any
// other death by signal N (a job kill we did not send included).
int32_t ExitEventCode(const platform::ProcessExit& exit, bool terminatedByUs) noexcept;

}  // namespace VirelantDesktop::engine
