// A child process inside a job: it and everything it starts end together.
//
// Linux: the job is a process group led by a small guard program
// (talvek-job-guard) that the child joins before it runs. The guard's
// standard input is a pipe whose only write end stays in this process; when
// this process ends by any means (kill -9 included), the guard sees end of
// input and kills its group. Terminating the job kills the group. The group
// is killed before the child is reaped, so a kill never reaches a process
// group whose number was handed out again.
//
// The child gets its standard input and output on pipes and /dev/null as its
// standard error; it inherits no other descriptor, default signal actions and
// an empty signal mask, and the caller's environment and current folder. A
// path without "/" is searched on PATH.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
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
  Job,         // starting the guard that makes the job
  Process,     // starting the child itself
  Assign,      // taking hold of the started child
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

  // Waits up to `timeoutMs` (negative: without limit) for the child to end.
  // True when it has ended. Never reaps; safe from any thread.
  bool WaitForExit(int timeoutMs) const noexcept;
  // How the child ended, read without reaping it; nullopt while it runs.
  std::optional<ProcessExit> PeekExit() const noexcept;

  // Kills every process of the job unless the job was closed. True when the
  // kill was sent. The caller serialises Terminate and CloseJob.
  bool Terminate() noexcept;
  bool WasTerminated() const noexcept { return terminated_.load(std::memory_order_acquire); }
  // Kills the job's group for the last time; Terminate does nothing after it.
  void CloseJob() noexcept;
  // Collects the ended child and the guard (after CloseJob). Blocks until
  // both are gone; the child must have ended or been killed.
  void Reap() noexcept;

 private:
  JobProcess() = default;

  pid_t pid_ = -1;
  pid_t guardPid_ = -1;  // also the job's process group
  UniqueFd pidfd_;       // the child, for waiting without reaping
  UniqueFd lifeline_;    // the write end of the guard's input
  UniqueFd input_;
  UniqueFd output_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> jobClosed_{false};
  std::atomic<bool> reaped_{false};
};

// talvek-job-guard beside the executable, unless a test named another.
std::string JobGuardPath();
// Test-only: the guard program to use (empty restores the default).
void SetJobGuardPathForTesting(std::string path);

}  // namespace VirelantDesktop::platform
