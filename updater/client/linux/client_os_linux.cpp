#include "updater/client/client_os.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/close_range.h>
#include <linux/fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace VirelantDesktop::update_client::os {
namespace {

using platform::UniqueFd;

std::string ErrorText(int error) {
  char buffer[128];
  // GNU strerror_r returns the text, which may not be in `buffer`.
  return strerror_r(error, buffer, sizeof buffer);
}

[[noreturn]] void Throw(const std::string& step, const std::string& path, int error = errno) {
  throw OsError(step, path, error);
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "a/b/c" -> "a/b" and "c"; "c" -> "" and "c".
std::pair<std::string_view, std::string_view> SplitLast(std::string_view relative) {
  const size_t slash = relative.rfind('/');
  if (slash == std::string_view::npos) return {std::string_view(), relative};
  return {relative.substr(0, slash), relative.substr(slash + 1)};
}

}  // namespace

OsError::OsError(const std::string& step, const std::string& path, int error)
    : std::runtime_error(step + " " + path + ": " + ErrorText(error)), error_(error) {}

// --- Files -----------------------------------------------------------------

UniqueFd CreateFileForWriting(const std::string& path, unsigned mode) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) Throw("cannot create", path);
  return fd;
}

UniqueFd OpenRegularFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) Throw("cannot open", path);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) Throw("cannot examine", path);
  if (!S_ISREG(info.st_mode)) Throw("not a regular file:", path, EINVAL);
  return fd;
}

uint64_t FileSizeOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) Throw("cannot examine", "descriptor " + std::to_string(fd));
  return static_cast<uint64_t>(info.st_size);
}

void Rewind(int fd, const std::string& path) {
  if (::lseek(fd, 0, SEEK_SET) != 0) Throw("cannot rewind", path);
}

UniqueFd Duplicate(int fd, const std::string& path) {
  UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy) Throw("cannot duplicate the descriptor of", path);
  return copy;
}

void WriteAll(int fd, const void* data, size_t size, const std::string& path) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      Throw("cannot write", path);
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
}

size_t ReadSome(int fd, void* buffer, size_t size, const std::string& path) {
  for (;;) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) Throw("cannot read", path);
  }
}

void SyncFile(int fd, const std::string& path) {
  if (::fsync(fd) != 0) Throw("cannot flush", path);
}

void SyncFolder(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) Throw("cannot open folder", path);
  if (::fsync(fd.Get()) != 0) Throw("cannot flush folder", path);
}

void RenamePath(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) Throw("cannot rename " + from + " to", to);
}

bool RemoveFile(const std::string& path) noexcept { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

void MakeFolders(const std::string& path, unsigned mode) {
  if (path.empty()) return;
  size_t next = path.front() == '/' ? 1 : 0;
  for (;;) {
    const size_t slash = path.find('/', next);
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) Throw("cannot create folder", prefix);
    if (slash == std::string::npos) break;
    next = slash + 1;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) Throw("not a folder:", path, ENOTDIR);
}

namespace {

// The names in `folder` whose entry (not followed) passes `keep`.
template <class Keep>
std::vector<std::string> NamesIn(const std::string& folder, Keep keep) {
  std::vector<std::string> names;
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return names;
    Throw("cannot open folder", folder);
  }
  DIR* listing = ::fdopendir(fd.Get());
  if (listing == nullptr) Throw("cannot list", folder);
  fd.Release();  // owned by `listing` now
  while (const dirent* entry = ::readdir(listing)) {
    struct stat info {};
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && keep(info.st_mode)) {
      names.emplace_back(name);
    }
  }
  ::closedir(listing);
  return names;
}

}  // namespace

std::vector<std::string> RegularFilesIn(const std::string& folder) {
  return NamesIn(folder, [](mode_t mode) { return S_ISREG(mode); });
}

std::vector<std::string> FoldersIn(const std::string& folder) {
  return NamesIn(folder, [](mode_t mode) { return S_ISDIR(mode); });
}

UniqueFd TryLockFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) Throw("cannot open the lock", path);
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return UniqueFd();
    Throw("cannot lock", path);
  }
  return fd;
}

bool CreateMarkerFile(const std::string& path, std::string_view content) noexcept {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd) return false;
  try {
    WriteAll(fd.Get(), content.data(), content.size(), path);
  } catch (const OsError&) {
    // The marker exists, which is what counts; its text is for people.
  }
  return true;
}

bool ConsumeMarkerFile(const std::string& path) noexcept { return ::unlink(path.c_str()) == 0; }

void AppendLogLine(const std::string& path, std::string_view line, uint64_t maxBytes) noexcept {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return;
  struct stat info {};
  if (::fstat(fd.Get(), &info) == 0 && static_cast<uint64_t>(info.st_size) + line.size() + 1 > maxBytes) {
    if (::ftruncate(fd.Get(), 0) != 0) return;
  }
  std::string text(line);
  text.push_back('\n');
  try {
    WriteAll(fd.Get(), text.data(), text.size(), path);
  } catch (const OsError&) {
  }
}

// --- Unpacking -------------------------------------------------------------

TreeWriter::TreeWriter(const std::string& root) : root_(root) {
  if (::mkdir(root.c_str(), 0755) != 0) Throw("cannot create folder", root);
  rootFd_.Reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!rootFd_) Throw("cannot open folder", root);
}

TreeWriter::~TreeWriter() = default;

int TreeWriter::OpenFolder(std::string_view relative, bool create) {
  UniqueFd current(::fcntl(rootFd_.Get(), F_DUPFD_CLOEXEC, 0));
  if (!current) Throw("cannot open folder", root_);
  std::string walked;
  while (!relative.empty()) {
    const size_t slash = relative.find('/');
    const std::string part(relative.substr(0, slash));
    relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    walked += walked.empty() ? part : "/" + part;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd next(::openat(current.Get(), part.c_str(), kFlags));
    if (!next && errno == ENOENT && create) {
      if (::mkdirat(current.Get(), part.c_str(), 0755) != 0) Throw("cannot create folder", root_ + "/" + walked);
      made_.push_back(walked);
      next.Reset(::openat(current.Get(), part.c_str(), kFlags));
    }
    if (!next) Throw("cannot open folder", root_ + "/" + walked);
    current = std::move(next);
  }
  return current.Release();
}

void TreeWriter::MakeFolder(std::string_view relative) { UniqueFd(OpenFolder(relative, /*create=*/true)); }

UniqueFd TreeWriter::CreateFile(std::string_view relative, bool executable) {
  const auto [parent, leaf] = SplitLast(relative);
  const UniqueFd folder(OpenFolder(parent, /*create=*/true));
  const mode_t mode = executable ? 0755 : 0644;
  const std::string name(leaf);
  UniqueFd fd(::openat(folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) Throw("cannot create", root_ + "/" + std::string(relative));
  // The umask must not take the execute bits a package asks for.
  if (::fchmod(fd.Get(), mode) != 0) Throw("cannot set the mode of", root_ + "/" + std::string(relative));
  return fd;
}

void TreeWriter::SyncFolders() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) SyncFolder(root_ + "/" + *it);
  if (::fsync(rootFd_.Get()) != 0) Throw("cannot flush folder", root_);
}

namespace {

// Once the swap is done it stands: a failed flush of the parent is not
// worth reporting the update as failed (and undoing nothing).
void SyncFolderAfterSwap(const std::string& parent) noexcept {
  try {
    SyncFolder(parent);
  } catch (const OsError&) {
  }
}

}  // namespace

std::string MoveInByRenames(const std::string& incoming, const std::string& current, const std::string& aside) {
  if (::syscall(SYS_renameat2, AT_FDCWD, current.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0) {
    Throw("cannot move " + current + " to", aside);
  }
  if (::rename(incoming.c_str(), current.c_str()) != 0) {
    const int error = errno;
    (void)::rename(aside.c_str(), current.c_str());
    Throw("cannot move " + incoming + " to", current, error);
  }
  SyncFolderAfterSwap(Parent(current));
  return aside;
}

std::string SwapInFolder(const std::string& incoming, const std::string& current, const std::string& aside) {
  const SignalsHeld held;
  struct stat info {};
  if (::lstat(current.c_str(), &info) != 0) {
    if (errno != ENOENT) Throw("cannot examine", current);
    if (::syscall(SYS_renameat2, AT_FDCWD, incoming.c_str(), AT_FDCWD, current.c_str(), RENAME_NOREPLACE) != 0) {
      Throw("cannot move " + incoming + " to", current);
    }
    SyncFolderAfterSwap(Parent(current));
    return "";
  }
  if (!S_ISDIR(info.st_mode)) Throw("not a folder:", current, ENOTDIR);

  if (::syscall(SYS_renameat2, AT_FDCWD, incoming.c_str(), AT_FDCWD, current.c_str(), RENAME_EXCHANGE) == 0) {
    SyncFolderAfterSwap(Parent(current));
    return incoming;
  }
  if (errno != EINVAL && errno != ENOSYS) Throw("cannot exchange " + incoming + " with", current);
  return MoveInByRenames(incoming, current, aside);
}

bool RestoreCurrentFolder(const std::string& current, const std::string& aside) noexcept {
  struct stat info {};
  if (::lstat(current.c_str(), &info) == 0 || errno != ENOENT) return false;
  if (::lstat(aside.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (::syscall(SYS_renameat2, AT_FDCWD, aside.c_str(), AT_FDCWD, current.c_str(), RENAME_NOREPLACE) != 0) {
    return false;
  }
  SyncFolderAfterSwap(Parent(current));
  return true;
}

bool IsFolder(const std::string& path) noexcept {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<unsigned> RegularFileMode(const std::string& path) noexcept {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<unsigned>(info.st_mode & 07777);
}

SignalsHeld::SignalsHeld() noexcept {
  static_assert(sizeof(sigset_t) <= sizeof saved_, "sigset_t does not fit");
  sigset_t all;
  ::sigfillset(&all);
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &all, &previous);
  std::memcpy(saved_, &previous, sizeof previous);
}

SignalsHeld::~SignalsHeld() {
  sigset_t previous;
  std::memcpy(&previous, saved_, sizeof previous);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void RemoveTree(const std::string& path) noexcept {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);  // removes links, never follows them
}

// --- Processes -------------------------------------------------------------

int OpenOwnPidfd() noexcept {
  const long fd = ::syscall(SYS_pidfd_open, ::getpid(), 0);
  if (fd < 0) return -1;
  ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  return static_cast<int>(fd);
}

void SpawnDetached(const std::vector<std::string>& argv, const std::string& workingDir, int passFd) {
  if (argv.empty() || argv[0].empty() || argv[0].front() != '/') Throw("cannot start", argv.empty() ? "" : argv[0], EINVAL);
  // Everything the children use is made before fork: after it only
  // async-signal-safe calls are allowed (other threads may hold malloc's lock).
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull) Throw("cannot open", "/dev/null");
  UniqueFd handed;
  if (passFd >= 0) {
    // Above the standard streams, so the dup2 calls below cannot clobber it.
    handed.Reset(::fcntl(passFd, F_DUPFD_CLOEXEC, 10));
    if (!handed) Throw("cannot duplicate descriptor", std::to_string(passFd));
  }
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) Throw("cannot make a pipe for", argv[0]);
  UniqueFd reportRead(report[0]);
  UniqueFd reportWrite(report[1]);

  const pid_t middle = ::fork();
  if (middle < 0) Throw("cannot fork for", argv[0]);
  if (middle == 0) {
    const auto fail = [&](int error) {
      (void)!::write(reportWrite.Get(), &error, sizeof error);
      ::_exit(127);
    };
    if (::setsid() < 0) fail(errno);
    const pid_t helper = ::fork();
    if (helper < 0) fail(errno);
    if (helper > 0) ::_exit(0);  // the helper is now an orphan of a new session

    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int stream = 0; stream <= 2; ++stream) {
      if (::dup2(devNull.Get(), stream) < 0) fail(errno);
    }
    if (handed && ::dup2(handed.Get(), 3) < 0) fail(errno);
    // Whatever else is open (all of ours is close-on-exec already) stays behind.
    ::syscall(SYS_close_range, handed ? 4U : 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    if (::chdir(workingDir.c_str()) != 0) fail(errno);
    ::execve(args[0], args.data(), environ);
    fail(errno);
  }

  reportWrite.Reset();
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  while ((got = ::read(reportRead.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (got > 0) Throw("cannot start", argv[0], error);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Throw("cannot start", argv[0], ECHILD);
}

namespace {

// Ended, or a zombie nobody reaped yet (the container's init reaps nothing).
bool ProcessEnded(int pid) {
  if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return !stat.is_open();
  const char state = text[close + 2];
  return state == 'Z' || state == 'X';
}

}  // namespace

bool WaitForProcessEnd(int pidfd, int pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (pidfd >= 0) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd entry{pidfd, POLLIN, 0};
      const int ready = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
      if (ready > 0) return true;
      if (ready == 0) return false;
      if (errno != EINTR) break;  // fall back to polling the pid
    }
  }
  if (pid <= 0) return false;
  for (;;) {
    if (ProcessEnded(pid)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int InheritedPidfd(int fd, int pid) noexcept {
  char target[64] = {};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  if (::readlink(link.c_str(), target, sizeof target - 1) < 0) return -1;
  if (std::string_view(target) != "anon_inode:[pidfd]") return -1;
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string line;
  while (std::getline(info, line)) {
    if (line.starts_with("Pid:")) {
      if (std::strtol(line.c_str() + 4, nullptr, 10) != pid) return -1;
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      return fd;
    }
  }
  return -1;
}

std::vector<std::string> OwnArguments() {
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> arguments;
  std::string argument;
  while (std::getline(cmdline, argument, '\0')) arguments.push_back(argument);
  return arguments;
}

}  // namespace VirelantDesktop::update_client::os
