// talvek-job-guard: runs the process of one job and makes sure that nothing
// the job started outlives it.
//
// The shell starts the guard as the leader of a new process group (the
// descriptors are listed in job_guard_protocol.h). The guard starts the job's
// process, the child, as its own child inside that group and reports its pid
// and, later, how it ended. The guard is a child subreaper: whatever the child
// starts and leaves behind, processes that left the group or the session
// (setsid, double forks) included, becomes the guard's child once its parent
// is gone.
//
// The job ends when the child ends, or when the lifeline closes (the shell is
// done with the job, or ended by any means, kill -9 included). The guard then
// kills the child and every process it is parent of, round after round as the
// orphans of the killed ones come to it, for at most kSweepMs. Every kill
// names a process the guard is parent of and has not reaped, so its number
// cannot belong to anyone else. The child itself stays unreaped until the
// lifeline closes, so its pid is not handed out again while the shell may
// still use it.
//
// The signals a terminal or a session sends are ignored; only SIGKILL ends
// the guard early (and then the shell's own kills still reach the child).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "platform/linux/job_guard/job_guard_protocol.h"

extern char** environ;

namespace {

namespace protocol = VirelantDesktop::platform::job_guard;

// How long the end of a job may take: processes stuck in an uninterruptible
// wait die later, without the guard.
constexpr int64_t kSweepMs = 5000;

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void Send(int32_t kind, int32_t a, int32_t b = 0) {
  const protocol::Report report{kind, a, b};
  // A shell that is gone cannot read it; SIGPIPE is ignored.
  while (write(protocol::kReportFd, &report, sizeof report) < 0 && errno == EINTR) {
  }
}

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Waits until `fd` is readable or the deadline passes; true when readable.
// A signal does not end the wait early.
bool WaitReadable(int fd, int64_t deadlineMs) {
  for (;;) {
    const int64_t left = deadlineMs - NowMs();
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && left <= 0) return false;
  }
}

// The processes whose parent is this one, except `skip`.
std::vector<pid_t> Children(pid_t skip) {
  std::vector<pid_t> found;
  const long self = getpid();
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return found;
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long pid = strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == skip) continue;
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char text[512];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) continue;
    text[n] = '\0';
    // "pid (name) state ppid ...": the name may hold anything, so the fields
    // are read after its last ')'.
    const char* nameEnd = strrchr(text, ')');
    char state = 0;
    long parent = 0;
    if (nameEnd != nullptr && sscanf(nameEnd + 1, " %c %ld", &state, &parent) == 2 && parent == self) {
      found.push_back(static_cast<pid_t>(pid));
    }
  }
  closedir(dir);
  return found;
}

// Kills and reaps every process this one is parent of, except the child
// `skip`, until none is left or the deadline passes. The orphans of each
// round come to this process and go in the next.
void KillOrphans(pid_t skip, int64_t deadlineMs) {
  for (;;) {
    const std::vector<pid_t> children = Children(skip);
    if (children.empty()) return;
    for (const pid_t pid : children) kill(pid, SIGKILL);
    for (const pid_t pid : children) {
      siginfo_t info{};
      const int fd = PidfdOpen(pid);
      if (fd >= 0) {
        WaitReadable(fd, deadlineMs);
        close(fd);
        waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
      } else {
        while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) < 0 && errno == EINTR) {
        }
      }
    }
    if (NowMs() >= deadlineMs) return;
  }
}

// Reaps the orphans that ended while the child runs; never the child itself.
void ReapOrphans(pid_t child) {
  for (;;) {
    siginfo_t info{};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (info.si_pid == 0 || info.si_pid == child) return;
    siginfo_t reaped{};
    waitid(P_PID, static_cast<id_t>(info.si_pid), &reaped, WEXITED | WNOHANG);
  }
}

// Starts argv[0] with the child's descriptors as 0, 1, 2, default signal
// actions and an empty mask, in this process's group. Returns 0 or an error
// number.
int StartChild(char** argv, pid_t& child) {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  if (int e = posix_spawnattr_init(&attr)) return e;
  if (int e = posix_spawn_file_actions_init(&actions)) {
    posix_spawnattr_destroy(&attr);
    return e;
  }
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  int e = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (e == 0) e = posix_spawnattr_setsigmask(&attr, &none);
  if (e == 0) e = posix_spawnattr_setsigdefault(&attr, &all);
  if (e == 0) e = posix_spawn_file_actions_adddup2(&actions, protocol::kChildInputFd, 0);
  if (e == 0) e = posix_spawn_file_actions_adddup2(&actions, protocol::kChildOutputFd, 1);
  // dup2 onto the same number clears close-on-exec.
  if (e == 0) e = posix_spawn_file_actions_adddup2(&actions, protocol::kNullFd, 2);
  if (e == 0) e = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (e == 0) e = posix_spawnp(&child, argv[0], &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  const int ignored[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2, SIGTSTP, SIGTTIN, SIGTTOU};
  for (const int signal : ignored) ::signal(signal, SIG_IGN);
  if (argc < 2) {
    Send(protocol::kGuardFailed, EINVAL);
    return 2;
  }
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    Send(protocol::kGuardFailed, errno);
    return 1;
  }
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  sigprocmask(SIG_BLOCK, &childSignal, nullptr);
  const int childEvents = signalfd(-1, &childSignal, SFD_CLOEXEC | SFD_NONBLOCK);
  if (childEvents < 0) {
    Send(protocol::kGuardFailed, errno);
    return 1;
  }

  pid_t child = -1;
  const int spawnError = StartChild(argv + 1, child);
  // Only the child may hold its pipes: the shell sees its output end, and the
  // child the end of its input, when the child's side closes.
  close(protocol::kChildInputFd);
  close(protocol::kChildOutputFd);
  if (spawnError != 0) {
    Send(protocol::kSpawnFailed, spawnError);
    return 0;
  }
  const int childFd = PidfdOpen(child);
  if (childFd < 0) {
    const int error = errno;
    kill(child, SIGKILL);
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED) < 0 && errno == EINTR) {
    }
    Send(protocol::kGuardFailed, error);
    return 1;
  }
  Send(protocol::kStarted, child);

  bool ended = false;
  for (;;) {
    pollfd waits[3] = {{protocol::kLifelineFd, POLLIN, 0}, {ended ? -1 : childFd, POLLIN, 0}, {childEvents, POLLIN, 0}};
    if (poll(waits, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;  // the job can no longer be watched: end it rather than lose it
    }
    if (waits[2].revents != 0) {
      signalfd_siginfo pending[8];
      while (read(childEvents, pending, sizeof pending) > 0) {
      }
      if (!ended) ReapOrphans(child);
    }
    if (!ended && waits[1].revents != 0) {
      siginfo_t info{};
      if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(childFd), &info, WEXITED | WNOHANG | WNOWAIT) ==
              0 &&
          info.si_pid != 0) {
        Send(protocol::kEnded, info.si_code, info.si_status);
        ended = true;
        KillOrphans(child, NowMs() + kSweepMs);  // nothing the child started outlives it
      }
    }
    if (waits[0].revents != 0) {
      char bytes[64];
      const ssize_t n = read(protocol::kLifelineFd, bytes, sizeof bytes);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
  }

  // The shell is done with the job, or gone: end all of it.
  const int64_t deadline = NowMs() + kSweepMs;
  syscall(SYS_pidfd_send_signal, childFd, SIGKILL, nullptr, 0);
  WaitReadable(childFd, deadline);
  KillOrphans(child, deadline);
  siginfo_t info{};
  waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(childFd), &info, WEXITED | WNOHANG);
  return 0;
}
