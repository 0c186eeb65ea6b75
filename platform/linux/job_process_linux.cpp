#include "platform/job_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform/folders.h"

extern char** environ;

namespace VirelantDesktop::platform {
namespace {

std::mutex g_guardPathLock;  // guards g_guardPathOverride
std::string g_guardPathOverride;

// posix_spawn attributes and descriptor plan, released on every path.
class SpawnPlan {
 public:
  SpawnPlan() = default;
  ~SpawnPlan() {
    if (attrReady_) posix_spawnattr_destroy(&attr_);
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnPlan(const SpawnPlan&) = delete;
  SpawnPlan& operator=(const SpawnPlan&) = delete;

  // Own process group `group` (0: a new one led by the child), default
  // signal actions, empty mask; `in`, `out`, `err` as 0, 1, 2 and nothing
  // else. Returns 0 or an error number.
  int Prepare(pid_t group, int in, int out, int err) {
    if (int e = posix_spawnattr_init(&attr_)) return e;
    attrReady_ = true;
    if (int e = posix_spawn_file_actions_init(&actions_)) return e;
    actionsReady_ = true;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (int e = posix_spawnattr_setflags(&attr_, flags)) return e;
    if (int e = posix_spawnattr_setpgroup(&attr_, group)) return e;
    if (int e = posix_spawnattr_setsigmask(&attr_, &none)) return e;
    if (int e = posix_spawnattr_setsigdefault(&attr_, &all)) return e;
    // dup2 onto the same number clears close-on-exec, as wanted.
    if (int e = posix_spawn_file_actions_adddup2(&actions_, in, 0)) return e;
    if (int e = posix_spawn_file_actions_adddup2(&actions_, out, 1)) return e;
    if (int e = posix_spawn_file_actions_adddup2(&actions_, err, 2)) return e;
    return posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }

  const posix_spawnattr_t* Attr() const { return &attr_; }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_{};
  posix_spawn_file_actions_t actions_{};
  bool attrReady_ = false;
  bool actionsReady_ = false;
};

bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.Reset(fds[0]);
  writeEnd.Reset(fds[1]);
  return true;
}

void WaitForPid(pid_t pid) noexcept {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Starts the guard as the leader of a new process group. Returns its pid, or
// -1 with errno set.
pid_t StartGuard(const UniqueFd& guardInput, const UniqueFd& nullDevice) {
  const std::string guardPath = JobGuardPath();
  SpawnPlan plan;
  if (int e = plan.Prepare(0, guardInput.Get(), nullDevice.Get(), nullDevice.Get())) {
    errno = e;
    return -1;
  }
  std::string arg0 = guardPath;
  char* argv[] = {arg0.data(), nullptr};
  pid_t pid = -1;
  if (int e = posix_spawn(&pid, guardPath.c_str(), plan.Actions(), plan.Attr(), argv, environ)) {
    errno = e;
    return -1;
  }
  return pid;
}

}  // namespace

std::string JobGuardPath() {
  {
    std::lock_guard lock(g_guardPathLock);
    if (!g_guardPathOverride.empty()) return g_guardPathOverride;
  }
  const auto dir = ExecutableDir();
  return dir ? *dir + "/talvek-job-guard" : std::string();
}

void SetJobGuardPathForTesting(std::string path) {
  std::lock_guard lock(g_guardPathLock);
  g_guardPathOverride = std::move(path);
}

std::unique_ptr<JobProcess> JobProcess::Spawn(const std::string& path, const std::vector<std::string>& args,
                                              JobSpawnFailure& failure) {
  auto fail = [&failure](JobSpawnStep step, int error) {
    failure = {step, error};
    return nullptr;
  };
  std::unique_ptr<JobProcess> job(new JobProcess());

  // Pipes: the child reads inputRead and writes outputWrite.
  UniqueFd inputRead;
  UniqueFd outputWrite;
  if (!MakePipe(inputRead, job->input_) || !MakePipe(job->output_, outputWrite)) {
    return fail(JobSpawnStep::Pipe, errno);
  }
  UniqueFd nullDevice(open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!nullDevice) return fail(JobSpawnStep::NullDevice, errno);

  // argv: the path, then the arguments unchanged. A NUL byte cannot be
  // passed on; refuse rather than cut the argument short.
  std::vector<std::string> argvStore;
  argvStore.reserve(args.size() + 1);
  argvStore.push_back(path);
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  for (const std::string& arg : argvStore) {
    if (arg.find('\0') != std::string::npos) return fail(JobSpawnStep::Process, EINVAL);
  }
  std::vector<char*> argv;
  argv.reserve(argvStore.size() + 1);
  for (std::string& arg : argvStore) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // The job: the guard leads the group before the child exists, so the child
  // is covered from its first instruction.
  UniqueFd guardInput;
  if (!MakePipe(guardInput, job->lifeline_)) return fail(JobSpawnStep::Job, errno);
  job->guardPid_ = StartGuard(guardInput, nullDevice);
  if (job->guardPid_ < 0) return fail(JobSpawnStep::Job, errno);
  guardInput.Reset();

  SpawnPlan plan;
  if (int e = plan.Prepare(job->guardPid_, inputRead.Get(), outputWrite.Get(), nullDevice.Get())) {
    return fail(JobSpawnStep::Attributes, e);  // the destructor ends the guard
  }
  if (int e = posix_spawnp(&job->pid_, path.c_str(), plan.Actions(), plan.Attr(), argv.data(), environ)) {
    job->pid_ = -1;
    return fail(JobSpawnStep::Process, e);
  }
  // glibc 2.36 declares pidfd_open without C linkage: the system call is
  // made directly. The descriptor is close-on-exec.
  job->pidfd_.Reset(static_cast<int>(syscall(SYS_pidfd_open, job->pid_, 0)));
  if (!job->pidfd_) {
    const int error = errno;
    job->Terminate();
    return fail(JobSpawnStep::Assign, error);
  }
  return job;
}

JobProcess::~JobProcess() {
  CloseJob();
  Reap();
}

bool JobProcess::WaitForExit(int timeoutMs) const noexcept {
  if (!pidfd_) return true;
  pollfd entry{pidfd_.Get(), POLLIN, 0};
  for (;;) {
    const int ready = poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
    // A signal cut the wait short: waiting again in full is within the
    // contract only for an unlimited wait; a limited one simply ends early.
    if (timeoutMs >= 0) return false;
  }
}

std::optional<ProcessExit> JobProcess::PeekExit() const noexcept {
  if (!pidfd_) return std::nullopt;
  siginfo_t info{};
  for (;;) {
    if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_.Get()), &info,
               WEXITED | WNOHANG | WNOWAIT) == 0) {
      break;
    }
    if (errno != EINTR) return std::nullopt;
  }
  if (info.si_pid == 0) return std::nullopt;
  if (info.si_code == CLD_EXITED) return ProcessExit{false, info.si_status, false};
  return ProcessExit{true, info.si_status, info.si_status == SIGKILL};
}

bool JobProcess::Terminate() noexcept {
  if (jobClosed_.load(std::memory_order_acquire) || guardPid_ <= 0) return false;
  terminated_.store(true, std::memory_order_release);
  return kill(-guardPid_, SIGKILL) == 0;
}

void JobProcess::CloseJob() noexcept {
  if (jobClosed_.exchange(true, std::memory_order_acq_rel)) return;
  // The guard and child are not reaped yet, so the group number is still ours.
  if (guardPid_ > 0) kill(-guardPid_, SIGKILL);
  lifeline_.Reset();
}

void JobProcess::Reap() noexcept {
  if (!jobClosed_.load(std::memory_order_acquire)) return;
  if (reaped_.exchange(true, std::memory_order_acq_rel)) return;
  if (pid_ > 0) {
    if (pidfd_) {
      siginfo_t info{};
      while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_.Get()), &info, WEXITED) < 0 &&
             errno == EINTR) {
      }
    } else {
      WaitForPid(pid_);
    }
  }
  if (guardPid_ > 0) WaitForPid(guardPid_);
}

}  // namespace VirelantDesktop::platform
