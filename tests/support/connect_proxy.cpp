#include "tests/support/connect_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>

namespace VirelantDesktop::testing {
namespace {

constexpr size_t kMaxRequestHead = 8192;
constexpr const char* kEstablished = "HTTP/1.1 200 Connection established\r\nProxy-Agent: talvek-test-proxy\r\n\r\n";
constexpr const char* kNotAllowed = "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Waits until `fd` is readable; false when the stop pipe woke first.
bool WaitReadable(int fd, int stop) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
  while (true) {
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

int ConnectLoopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ConnectProxy::ConnectProxy(uint16_t targetPort) : targetPort_(targetPort) {}

ConnectProxy::~ConnectProxy() { Stop(); }

void ConnectProxy::Start() {
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("test proxy: no pipe");
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("test proxy: cannot listen");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void ConnectProxy::Stop() {
  if (!acceptThread_.joinable()) return;
  const char wake = 1;
  while (write(stopPipe_[1], &wake, 1) < 0 && errno == EINTR) {
  }
  acceptThread_.join();
  // The accept thread is gone: nothing adds connections any more.
  for (std::thread& connection : connections_) connection.join();
  connections_.clear();
  close(listener_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
  listener_ = stopPipe_[0] = stopPipe_[1] = -1;
}

std::vector<std::string> ConnectProxy::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void ConnectProxy::AcceptLoop() {
  while (WaitReadable(listener_, stopPipe_[0])) {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, client] {
      Serve(client);
      close(client);
    });
  }
}

void ConnectProxy::Serve(int client) {
  // The request head; bytes after it would already belong to the tunnel,
  // which a client sends only once it read the answer.
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > kMaxRequestHead || !WaitReadable(client, stopPipe_[0])) return;
    char block[1024];
    const ssize_t got = recv(client, block, sizeof block, 0);
    if (got <= 0) return;
    head.append(block, static_cast<size_t>(got));
  }
  const std::string_view line = std::string_view(head).substr(0, head.find("\r\n"));
  const size_t version = line.rfind(' ');
  const std::string request(line.substr(0, version == std::string_view::npos ? line.size() : version));
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  if (!request.starts_with("CONNECT ")) {
    SendAll(client, kNotAllowed, std::string_view(kNotAllowed).size());
    return;
  }
  const int target = ConnectLoopback(targetPort_);
  if (target < 0) return;
  if (!SendAll(client, kEstablished, std::string_view(kEstablished).size())) {
    close(target);
    return;
  }

  // Relay until both directions ended (each end's close is passed on as a
  // half-close) or Stop().
  bool clientOpen = true, targetOpen = true;
  std::vector<char> buffer(65536);
  while (clientOpen || targetOpen) {
    pollfd fds[3] = {{clientOpen ? client : -1, POLLIN, 0}, {targetOpen ? target : -1, POLLIN, 0},
                     {stopPipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 3, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[2].revents != 0) break;
    for (int side = 0; side < 2; ++side) {
      if (fds[side].revents == 0) continue;
      const int from = side == 0 ? client : target;
      const int to = side == 0 ? target : client;
      const ssize_t got = recv(from, buffer.data(), buffer.size(), 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || !SendAll(to, buffer.data(), static_cast<size_t>(got))) {
        (side == 0 ? clientOpen : targetOpen) = false;
        shutdown(to, SHUT_WR);
        continue;
      }
      if (side == 1) bytesToClients_ += static_cast<uint64_t>(got);
    }
  }
  close(target);
}

namespace {

constexpr const char* kProxyVariables[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy",
                                           "ALL_PROXY",   "no_proxy",    "NO_PROXY"};

void SetOrRemove(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

}  // namespace

ScopedProxyEnvironment::ScopedProxyEnvironment(const std::optional<std::string>& proxyUrl,
                                               const std::optional<std::string>& noProxy) {
  for (const char* name : kProxyVariables) {
    const char* value = getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  for (const char* name : kProxyVariables) unsetenv(name);
  SetOrRemove("https_proxy", proxyUrl);
  SetOrRemove("no_proxy", noProxy);
}

ScopedProxyEnvironment::~ScopedProxyEnvironment() {
  for (const auto& [name, value] : saved_) SetOrRemove(name, value);
}

}  // namespace VirelantDesktop::testing
