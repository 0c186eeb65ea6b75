// What the job guard (talvek-job-guard) and the shell (job_process_linux.cpp)
// exchange. Shared by both programs; keep it free of anything but constants
// and the report record.
//
// The shell starts the guard as `talvek-job-guard PATH [ARG...]` with these
// descriptors and no others:
//   0  the lifeline: the read end of a pipe whose only write end stays in the
//      shell. End of input means the shell is done with the job, or gone.
//   1  the report pipe to the shell (records below).
//   2  /dev/null, which also becomes the child's standard error.
//   3  the child's standard input.
//   4  the child's standard output.
#pragma once

#include <cstdint>

namespace VirelantDesktop::platform::job_guard {

inline constexpr int kLifelineFd = 0;
inline constexpr int kReportFd = 1;
inline constexpr int kNullFd = 2;
inline constexpr int kChildInputFd = 3;
inline constexpr int kChildOutputFd = 4;

// One report, written whole in one write (far below PIPE_BUF, so a reader
// never sees part of one).
struct Report {
  int32_t kind = 0;
  int32_t a = 0;
  int32_t b = 0;
};

// The first report is kStarted or one of the failures; kEnded follows
// kStarted once the child has ended.
inline constexpr int32_t kStarted = 1;       // a = the child's pid
inline constexpr int32_t kSpawnFailed = 2;   // a = errno of starting the child
inline constexpr int32_t kGuardFailed = 3;   // a = errno of the guard's own set-up
inline constexpr int32_t kEnded = 4;         // a = si_code (CLD_EXITED, CLD_KILLED, CLD_DUMPED), b = si_status

}  // namespace VirelantDesktop::platform::job_guard
