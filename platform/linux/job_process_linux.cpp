#include "platform/job_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/folders.h"
#include "platform/linux/job_guard/job_guard_protocol.h"

extern char** environ;

namespace VirelantDesktop::platform {
namespace {

namespace protocol = job_guard;
using Clock = std::chrono::steady_clock;

constexpr int kReportWaitMs = 2000;  // for the guard's report once the child has ended

std::mutex g_guardPathLock;  // guards g_guardPathOverride
std::string g_guardPathOverride;

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

int PidfdOpen(pid_t pid) noexcept {
  // glibc 2.36 declares pidfd_open without C linkage: the system call is
  // made directly. The descriptor is close-on-exec.
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool KillThrough(const UniqueFd& pidfd) noexcept {
  return pidfd && syscall(SYS_pidfd_send_signal, pidfd.Get(), SIGKILL, nullptr, 0) == 0;
}

// Polls `fd` for input until the deadline (`timeoutMs` < 0: none); a caught
// signal does not end the wait early. True when readable.
bool PollReadable(int fd, int timeoutMs) noexcept {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  pollfd entry{fd, POLLIN, 0};
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int ready = poll(&entry, 1, wait);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && wait == 0) return false;
  }
}

// Reads one whole report; false at the end of input or on an error.
bool ReadReport(const UniqueFd& fd, protocol::Report& report) noexcept {
  auto* bytes = reinterpret_cast<char*>(&report);
  size_t got = 0;
  while (got < sizeof report) {
    const ssize_t n = read(fd.Get(), bytes + got, sizeof report - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// A copy of `fd` numbered above every descriptor the guard is given, so that
// no dup2 of the plan overwrites a source still to be copied.
UniqueFd AboveGuardDescriptors(const UniqueFd& fd) {
  return UniqueFd(fcntl(fd.Get(), F_DUPFD_CLOEXEC, protocol::kChildOutputFd + 1));
}

// Starts the guard as the leader of a new process group, with `sources` as
// its descriptors 0 to 4 and nothing else, default signal actions and an
// empty mask. Returns its pid, or -1 with `step` and errno set.
pid_t StartGuard(const std::vector<std::string>& argvStore, const UniqueFd* const (&sources)[5],
                 JobSpawnStep& step) {
  step = JobSpawnStep::Attributes;
  UniqueFd high[5];
  for (int i = 0; i < 5; ++i) {
    high[i] = AboveGuardDescriptors(*sources[i]);
    if (!high[i]) return -1;
  }
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  if (int e = posix_spawnattr_init(&attr)) {
    errno = e;
    return -1;
  }
  if (int e = posix_spawn_file_actions_init(&actions)) {
    posix_spawnattr_destroy(&attr);
    errno = e;
    return -1;
  }
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  int e = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (e == 0) e = posix_spawnattr_setpgroup(&attr, 0);
  if (e == 0) e = posix_spawnattr_setsigmask(&attr, &none);
  if (e == 0) e = posix_spawnattr_setsigdefault(&attr, &all);
  for (int i = 0; i < 5 && e == 0; ++i) e = posix_spawn_file_actions_adddup2(&actions, high[i].Get(), i);
  if (e == 0) e = posix_spawn_file_actions_addclosefrom_np(&actions, protocol::kChildOutputFd + 1);
  pid_t pid = -1;
  if (e == 0) {
    std::vector<std::string> store = argvStore;
    std::vector<char*> argv;
    argv.reserve(store.size() + 1);
    for (std::string& arg : store) argv.push_back(arg.data());
    argv.push_back(nullptr);
    step = JobSpawnStep::Job;
    e = posix_spawn(&pid, store[0].c_str(), &actions, &attr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (e != 0) {
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

  // The guard's argv: itself, then the child's argv: the path and the
  // arguments unchanged. A NUL byte cannot be passed on; refuse rather than
  // cut the argument short.
  std::vector<std::string> argvStore;
  argvStore.reserve(args.size() + 2);
  argvStore.push_back(JobGuardPath());
  argvStore.push_back(path);
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  for (size_t i = 1; i < argvStore.size(); ++i) {
    if (argvStore[i].find('\0') != std::string::npos) return fail(JobSpawnStep::Process, EINVAL);
  }

  // The job: the guard leads the group and starts the child in it, so the
  // child is covered from its first instruction.
  UniqueFd guardInput;
  UniqueFd reportWrite;
  if (!MakePipe(guardInput, job->lifeline_) || !MakePipe(job->report_, reportWrite)) {
    return fail(JobSpawnStep::Job, errno);
  }
  const UniqueFd* const sources[5] = {&guardInput, &reportWrite, &nullDevice, &inputRead, &outputWrite};
  static_assert(protocol::kLifelineFd == 0 && protocol::kReportFd == 1 && protocol::kNullFd == 2 &&
                protocol::kChildInputFd == 3 && protocol::kChildOutputFd == 4);
  JobSpawnStep step = JobSpawnStep::Job;
  job->guardPid_ = StartGuard(argvStore, sources, step);
  if (job->guardPid_ < 0) return fail(step, errno);
  // Only the guard (and then the child) may hold these ends: the end of the
  // child's output and of the guard's reports must show here.
  guardInput.Reset();
  reportWrite.Reset();
  inputRead.Reset();
  outputWrite.Reset();
  nullDevice.Reset();

  protocol::Report report;
  if (!ReadReport(job->report_, report)) return fail(JobSpawnStep::Job, EPIPE);  // the guard died
  if (report.kind == protocol::kSpawnFailed) return fail(JobSpawnStep::Process, report.a);
  if (report.kind != protocol::kStarted || report.a <= 0) {
    return fail(JobSpawnStep::Job, report.kind == protocol::kGuardFailed ? report.a : EPROTO);
  }
  job->pid_ = static_cast<pid_t>(report.a);
  // The guard keeps the child unreaped until the job is closed, so the
  // number still names it.
  job->pidfd_.Reset(PidfdOpen(job->pid_));
  if (!job->pidfd_) return fail(JobSpawnStep::Assign, errno);  // the destructor ends the job
  return job;
}

JobProcess::~JobProcess() {
  CloseJob();
  Reap();
}

bool JobProcess::WaitForExit(int timeoutMs) const noexcept {
  if (!pidfd_) return true;
  return PollReadable(pidfd_.Get(), timeoutMs);
}

std::optional<ProcessExit> JobProcess::PeekExit() const noexcept {
  if (!pidfd_) return std::nullopt;
  std::lock_guard lock(exitLock_);
  if (exit_) return exit_;
  if (!PollReadable(pidfd_.Get(), 0)) return std::nullopt;
  // Ended: the guard reports how at once.
  protocol::Report report;
  if (!PollReadable(report_.Get(), kReportWaitMs) || !ReadReport(report_, report) ||
      report.kind != protocol::kEnded) {
    return std::nullopt;
  }
  if (report.a == CLD_EXITED) exit_ = ProcessExit{false, report.b, false};
  else exit_ = ProcessExit{true, report.b, report.b == SIGKILL};
  return exit_;
}

bool JobProcess::Terminate() noexcept {
  if (jobClosed_.load(std::memory_order_acquire) || !pidfd_) return false;
  terminated_.store(true, std::memory_order_release);
  // The guard ends the rest of the job when it sees the child gone.
  return KillThrough(pidfd_);
}

void JobProcess::CloseJob() noexcept {
  if (jobClosed_.exchange(true, std::memory_order_acq_rel)) return;
  KillThrough(pidfd_);
  lifeline_.Reset();  // the guard ends and reaps everything, then exits
}

void JobProcess::Reap() noexcept {
  if (!jobClosed_.load(std::memory_order_acquire)) return;
  if (reaped_.exchange(true, std::memory_order_acq_rel)) return;
  if (guardPid_ <= 0) return;
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(guardPid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  // The guard is not reaped yet, so the group number is still ours. Whatever
  // is left in it (the guard itself was killed before it could end the job)
  // goes now.
  kill(-guardPid_, SIGKILL);
  WaitForPid(guardPid_);
}

}  // namespace VirelantDesktop::platform
