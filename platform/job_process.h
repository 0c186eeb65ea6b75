// A child process inside a job: it and everything it starts end together.
//
// Linux: the job is run by a small guard program (talvek-job-guard) that
// leads a new process group, starts the child in that group as its own child
// and is a child subreaper, so whatever the child starts and leaves behind
// (processes that left the group or the session with setsid, double forks)
// becomes the guard's child. The guard's standard input is a pipe whose only
// write end stays in this process. When the child ends, or that pipe closes
// (CloseJob, or this process ending by any means, kill -9 included), the
// guard kills the child and every process it is parent of, round after round,
// and reaps them. The child itself is killed through a pidfd, by this process
// and by the guard, so a kill never reaches a process that reused its number;
// the guard reports how the child ended, and keeps it unreaped until the job
// is closed.
//
// The child gets its standard input and output on pipes and /dev/null as its
// standard error; it inherits no other descriptor, default signal actions and
// an empty signal mask, and the caller's environment and current folder. A
// path without "/" is searched on PATH.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

// The step of a start that failed.
enum class JobSpawnStep {
  Pipe,        // the input or output pipe
  NullDevice,  // opening /dev/null
  Attributes,  // preparing the spawn attributes and descriptor plan
  Job,         // starting the guard that makes the job, or the guard's own set-up
  Process,     // starting the child itself
  Assign,      // taking hold of the started child (its pidfd)
};

struct JobSpawnFailure {
  JobSpawnStep step = JobSpawnStep::Process;
  int error = 0;  // errno of the failed step
};

// How a process ended.
struct ProcessExit {
  bool signaled = false;  // true: ended by signal `value`; false: exit status `value`
  int value = 0;
  bool killed = false;    // ended by the signal the job's terminate sends
};

class JobProcess {
 public:
  // Starts `path` with `args` as argv[1...] (argv[0] is `path`). Returns null
  // and fills `failure` when a step fails; nothing is left running then.
  static std::unique_ptr<JobProcess> Spawn(const std::string& path, const std::vector<std::string>& args,
                                           JobSpawnFailure& failure);

  ~JobProcess();  // closes the job (killing what still runs in it) and reaps
  JobProcess(const JobProcess&) = delete;
  JobProcess& operator=(const JobProcess&) = delete;

  pid_t Pid() const noexcept { return pid_; }

  // The shell's ends of the pipes (taken once).
  UniqueFd TakeInput() noexcept { return std::move(input_); }
  UniqueFd TakeOutput() noexcept { return std::move(output_); }

  // Waits up to `timeoutMs` (negative: without limit) for the child to end;
  // a signal caught meanwhile does not end the wait early. True when it has
  // ended. Never reaps; safe from any thread.
  bool WaitForExit(int timeoutMs) const noexcept;
  // How the child ended (as the guard reports it, waiting up to 2000 ms for
  // the report once the child has ended); nullopt while it runs, or when the
  // guard could not tell.
  std::optional<ProcessExit> PeekExit() const noexcept;

  // Kills the child, and with it everything of the job (the guard ends the
  // rest once the child is gone), unless the job was closed. True when the
  // kill was sent. The caller serialises Terminate and CloseJob.
  bool Terminate() noexcept;
  bool WasTerminated() const noexcept { return terminated_.load(std::memory_order_acquire); }
  // Ends the job for good: kills the child and lets the guard end and reap
  // everything; Terminate does nothing after it.
  void CloseJob() noexcept;
  // Waits for the guard to finish (after CloseJob), kills whatever is still
  // in the job's group and collects the guard. Blocks for at most the
  // guard's own bound (a few seconds) once the child is dead.
  void Reap() noexcept;

 private:
  JobProcess() = default;

  pid_t pid_ = -1;       // the child: the guard's child, not ours
  pid_t guardPid_ = -1;  // our child; also the job's process group
  UniqueFd pidfd_;       // the child, for waiting and killing
  UniqueFd lifeline_;    // the write end of the guard's input
  UniqueFd report_;      // the read end of the guard's reports
  UniqueFd input_;
  UniqueFd output_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> jobClosed_{false};
  std::atomic<bool> reaped_{false};
  mutable std::mutex exitLock_;  // guards exit_ and reading report_ after the start
  mutable std::optional<ProcessExit> exit_;
};

// talvek-job-guard beside the executable, unless a test named another.
std::string JobGuardPath();
// Test-only: the guard program to use (empty restores the default).
void SetJobGuardPathForTesting(std::string path);

}  // namespace VirelantDesktop::platform
