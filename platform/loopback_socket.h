// TCP on the loopback interface: a listener on 127.0.0.1 with a port the
// system picks, and the few calls one short HTTP exchange needs. Sockets are
// close-on-exec and send without raising SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

struct LoopbackListener {
  UniqueFd socket;
  uint16_t port = 0;  // as bound
};

// Listens on 127.0.0.1, port 0, with `backlog`. False when any step fails
// (nothing stays open then).
bool ListenOnLoopback(int backlog, LoopbackListener& listener);

enum class WaitResult { Ready, TimedOut, Failed };
// Waits up to `timeoutMs` for a connection (or data) on `socket`.
WaitResult WaitReadable(const UniqueFd& socket, int timeoutMs);

// Accepts one connection; invalid on failure.
UniqueFd AcceptConnection(const UniqueFd& listener);

// Receives up to `size` bytes, waiting at most `timeoutMs`: the count, 0 when
// the peer closed, -1 on failure or time-out.
long ReceiveSome(const UniqueFd& socket, char* buffer, size_t size, int timeoutMs);

// Sends all of `bytes` (stops at the first failure); false if not all went.
bool SendAll(const UniqueFd& socket, std::string_view bytes);

// Ends the sending side, so the peer reads end of stream.
void ShutdownSending(const UniqueFd& socket);

// Test-only, for clients: connects to 127.0.0.1:`port`.
UniqueFd ConnectToLoopback(uint16_t port);

}  // namespace VirelantDesktop::platform
