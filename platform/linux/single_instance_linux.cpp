#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/folders.h"

namespace VirelantDesktop::platform {
namespace {

constexpr char kMagic[4] = {'T', 'L', 'V', 'W'};
constexpr size_t kHeaderBytes = 8;

bool MakeAddress(const std::string& path, sockaddr_un& address) {
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::optional<ucred> PeerCredentials(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
  return credentials;
}

std::string ExecutableOf(pid_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::string target(4096, '\0');
  const ssize_t n = readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
  target.resize(static_cast<size_t>(n));
  return target;
}

void SetTimeouts(int fd, int timeoutMs) {
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace

std::optional<std::string> InstanceFolder() {
  auto runtime = UserRuntimeDir();
  const std::string folder = runtime ? *runtime + "/talvek" : "/tmp/talvek-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) return std::nullopt;
  // A link, someone else's folder, or one others may write to is not ours.
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 077) != 0) return std::nullopt;
  return folder;
}

InstanceGuard& InstanceGuard::operator=(InstanceGuard&& other) noexcept {
  if (this != &other) {
    Release();
    socketPath_ = std::exchange(other.socketPath_, std::string());
    lock_ = std::move(other.lock_);
    listen_ = std::move(other.listen_);
  }
  return *this;
}

InstanceGuard::Outcome InstanceGuard::TryAcquire(const std::string& folder, InstanceGuard& guard) {
  const std::string lockPath = folder + "/" + kInstanceLockName;
  UniqueFd lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock) return Outcome::Failed;
  while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? Outcome::HeldByAnother : Outcome::Failed;
  }
  guard.Release();
  guard.lock_ = std::move(lock);

  // Holding the lock, any socket file there is a dead instance's.
  const std::string socketPath = folder + "/" + kInstanceSocketName;
  sockaddr_un address{};
  if (!MakeAddress(socketPath, address)) return Outcome::Acquired;  // runs without hand-over
  unlink(socketPath.c_str());
  UniqueFd listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listening) return Outcome::Acquired;
  if (bind(listening.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listening.Get(), 16) != 0) {
    return Outcome::Acquired;
  }
  guard.socketPath_ = socketPath;
  guard.listen_ = std::move(listening);
  return Outcome::Acquired;
}

void InstanceGuard::Release() noexcept {
  if (!socketPath_.empty()) {
    unlink(socketPath_.c_str());
    socketPath_.clear();
  }
  listen_.Reset();
  lock_.Reset();  // closing the last descriptor releases the flock
}

std::string EncodeHandOver(const std::vector<std::string>& arguments) {
  std::string body;
  for (const auto& argument : arguments) {
    body += argument;
    body.push_back('\0');
  }
  std::string message(kMagic, sizeof kMagic);
  const uint32_t length = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) message.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  return message + body;
}

std::optional<std::vector<std::string>> DecodeHandOver(std::string_view message) {
  if (message.size() < kHeaderBytes || message.substr(0, 4) != std::string_view(kMagic, 4)) return std::nullopt;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(message[4 + i])) << (8 * i);
  if (length > kMaxHandOverBytes || message.size() != kHeaderBytes + length) return std::nullopt;
  std::string_view body = message.substr(kHeaderBytes);
  if (!body.empty() && body.back() != '\0') return std::nullopt;
  std::vector<std::string> arguments;
  while (!body.empty()) {
    const size_t end = body.find('\0');
    arguments.emplace_back(body.substr(0, end));
    body.remove_prefix(end + 1);
  }
  return arguments;
}

HandOverResult SendHandOver(const std::string& folder, const std::vector<std::string>& arguments,
                            const std::string& executablePath, int timeoutMs) {
  sockaddr_un address{};
  if (!MakeAddress(folder + "/" + kInstanceSocketName, address)) return HandOverResult::Failed;
  UniqueFd connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!connection) return HandOverResult::Failed;
  SetTimeouts(connection.Get(), timeoutMs);
  if (connect(connection.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return errno == ENOENT || errno == ECONNREFUSED ? HandOverResult::NoPeer : HandOverResult::Failed;
  }
  // Only the same user's instance of the same program hears the command line.
  auto peer = PeerCredentials(connection.Get());
  if (!peer || peer->uid != getuid() || ExecutableOf(peer->pid) != executablePath) return HandOverResult::WrongPeer;

  const std::string message = EncodeHandOver(arguments);
  size_t sent = 0;
  while (sent < message.size()) {
    const ssize_t n = send(connection.Get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return HandOverResult::Failed;
    sent += static_cast<size_t>(n);
  }
  char answer = 0;
  for (;;) {
    const ssize_t n = recv(connection.Get(), &answer, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return HandOverResult::Failed;  // closed, or no answer in time
    return answer == '1' ? HandOverResult::Accepted : HandOverResult::Declined;
  }
}

std::optional<std::vector<std::string>> ReceiveHandOver(int connection, int timeoutMs) {
  auto peer = PeerCredentials(connection);
  if (!peer || peer->uid != getuid()) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string message;
  size_t expected = kHeaderBytes;
  while (message.size() < expected) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd pfd{connection, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = recv(connection, buffer, std::min(sizeof buffer, expected - message.size()), MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return std::nullopt;
    message.append(buffer, static_cast<size_t>(n));
    if (expected == kHeaderBytes && message.size() == kHeaderBytes) {
      if (message.compare(0, 4, kMagic, 4) != 0) return std::nullopt;
      uint32_t length = 0;
      for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(message[4 + i])) << (8 * i);
      if (length > kMaxHandOverBytes) return std::nullopt;
      expected = kHeaderBytes + length;
    }
  }
  return DecodeHandOver(message);
}

void AnswerHandOver(int connection, bool accepted) noexcept {
  const char answer = accepted ? '1' : '0';
  (void)send(connection, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

HandOverServer::HandOverServer(int listenFd, int timeoutMs, std::function<bool()> isQuitting,
                               std::function<void(std::vector<std::string>)> onAccepted)
    : listenFd_(listenFd), timeoutMs_(timeoutMs), isQuitting_(std::move(isQuitting)),
      onAccepted_(std::move(onAccepted)) {
  int fds[2];
  if (listenFd_ < 0 || pipe2(fds, O_CLOEXEC) != 0) return;
  stopRead_.Reset(fds[0]);
  stopWrite_.Reset(fds[1]);
  thread_ = std::thread([this] { Run(); });
}

HandOverServer::~HandOverServer() {
  if (!thread_.joinable()) return;
  const char stop = 's';
  (void)!write(stopWrite_.Get(), &stop, 1);
  thread_.join();
}

void HandOverServer::Run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopRead_.Get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    UniqueFd connection(accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!connection) continue;  // the peer gave up already, or EAGAIN
    auto arguments = ReceiveHandOver(connection.Get(), timeoutMs_);
    if (!arguments) continue;  // another user, malformed, oversized or silent
    // Nothing may unwind out of this thread; a failing callback costs the
    // one hand-over, not the server.
    try {
      const bool accepted = !isQuitting_();
      AnswerHandOver(connection.Get(), accepted);
      if (accepted && onAccepted_) onAccepted_(std::move(*arguments));
    } catch (...) {
    }
  }
}

}  // namespace VirelantDesktop::platform
