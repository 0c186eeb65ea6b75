#include "tests/support/unprivileged.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace VirelantDesktop::testing {
namespace {

namespace fs = std::filesystem;

void WriteAllTo(int fd, const std::string& text) {
  const char* next = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    next += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace

void HandToUnprivilegedUser(const std::string& path) {
  if (geteuid() == 0) {
    const auto give = [](const fs::path& entry) {
      lchown(entry.c_str(), kUnprivilegedId, kUnprivilegedId);
    };
    give(path);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(path, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
      give(it->path());
    }
  }
  for (fs::path folder = fs::path(path).parent_path(); !folder.empty(); folder = folder.parent_path()) {
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0 && (info.st_mode & S_IXOTH) == 0) {
      chmod(folder.c_str(), (info.st_mode & 07777) | S_IXOTH);
    }
    if (folder == folder.root_path()) break;
  }
}

bool DropToUnprivilegedUser() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(kUnprivilegedId) == 0 && setuid(kUnprivilegedId) == 0 &&
         geteuid() == kUnprivilegedId && setuid(0) != 0;  // and no way back
}

std::string RunInChild(const std::function<std::string()>& body, std::chrono::seconds timeout) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return std::string("fork: ") + std::strerror(errno);
  }
  if (pid == 0) {
    close(fds[0]);
    std::string outcome;
    try {
      outcome = body();
    } catch (const std::exception& error) {
      outcome = std::string("exception: ") + error.what();
    } catch (...) {
      outcome = "exception";
    }
    WriteAllTo(fds[1], outcome);
    _exit(0);
  }
  close(fds[1]);
  std::string outcome;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool timedOut = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd readable{fds[0], POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    outcome.append(buffer, static_cast<size_t>(got));
  }
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) return "the child ran past its time and was killed; it said: " + outcome;
  if (WIFSIGNALED(status)) return "the child was killed by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child failed to finish";
  return outcome;
}

std::string RunUnprivileged(const std::function<std::string()>& body, std::chrono::seconds timeout) {
  return RunInChild(
      [&body]() -> std::string {
        if (!DropToUnprivilegedUser()) return std::string("cannot drop privileges: ") + std::strerror(errno);
        return body();
      },
      timeout);
}

}  // namespace VirelantDesktop::testing
