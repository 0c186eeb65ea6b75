#include "platform/loopback_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace VirelantDesktop::platform {

bool ListenOnLoopback(int backlog, LoopbackListener& listener) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  // No SO_REUSEADDR: the port is the system's choice and stays ours alone.
  if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  if (listen(fd.Get(), backlog) != 0) return false;
  socklen_t length = sizeof address;
  if (getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  listener.port = ntohs(address.sin_port);
  listener.socket = std::move(fd);
  return true;
}

WaitResult WaitReadable(const UniqueFd& socket, int timeoutMs) {
  pollfd entry{socket.Get(), POLLIN, 0};
  const int ready = poll(&entry, 1, timeoutMs);
  if (ready > 0) return (entry.revents & POLLNVAL) != 0 ? WaitResult::Failed : WaitResult::Ready;
  if (ready == 0 || errno == EINTR) return WaitResult::TimedOut;
  return WaitResult::Failed;
}

UniqueFd AcceptConnection(const UniqueFd& listener) {
  return UniqueFd(accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

long ReceiveSome(const UniqueFd& socket, char* buffer, size_t size, int timeoutMs) {
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) return -1;
  for (;;) {
    const ssize_t n = recv(socket.Get(), buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool SendAll(const UniqueFd& socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(socket.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void ShutdownSending(const UniqueFd& socket) { shutdown(socket.Get(), SHUT_WR); }

UniqueFd ConnectToLoopback(uint16_t port) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) return fd;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
  return fd;
}

}  // namespace VirelantDesktop::platform
