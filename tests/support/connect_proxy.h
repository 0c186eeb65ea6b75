// A tunnelling HTTP proxy on 127.0.0.1 for tests and benchmarks, the kind
// https_proxy names: it answers "CONNECT host:port" with "200 Connection
// established" and then relays bytes both ways. Every tunnel leads to one
// local port, whatever host was asked for, so a test can serve a real host
// name from its local server and see from the record that the client went
// through the proxy (and asked it for the right host). No GoogleTest.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace VirelantDesktop::testing {

class ConnectProxy {
 public:
  // Tunnels go to 127.0.0.1:`targetPort`.
  explicit ConnectProxy(uint16_t targetPort);
  ~ConnectProxy();  // Stop()
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  // Listens on an ephemeral port and accepts on a thread of its own.
  void Start();
  // Closes the listener and every tunnel, and waits for their threads.
  void Stop();

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT", the form of the proxy variables.
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // The request line of each connection so far, without the protocol
  // version: "CONNECT app.talvek.chat:443". Anything but CONNECT was
  // answered 405 and closed.
  std::vector<std::string> Requests() const;
  // Bytes relayed from the target to clients so far.
  uint64_t BytesToClients() const { return bytesToClients_.load(); }

 private:
  void AcceptLoop();
  void Serve(int client);

  const uint16_t targetPort_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};  // readable once Stop() began: wakes every poll
  uint16_t port_ = 0;
  std::thread acceptThread_;
  mutable std::mutex mutex_;  // guards requests_ and connections_
  std::vector<std::string> requests_;
  std::vector<std::thread> connections_;
  std::atomic<uint64_t> bytesToClients_{0};
};

// Sets the variables through which libcurl (and so every download of ours)
// finds a proxy: https_proxy to `proxyUrl` (or removed when it is nullopt),
// no_proxy to `noProxy` (or removed), and removes HTTPS_PROXY, NO_PROXY,
// all_proxy, ALL_PROXY and http_proxy, so the caller's own environment
// cannot change the test. The destructor restores every one of them.
class ScopedProxyEnvironment {
 public:
  explicit ScopedProxyEnvironment(const std::optional<std::string>& proxyUrl,
                                  const std::optional<std::string>& noProxy = std::nullopt);
  ~ScopedProxyEnvironment();
  ScopedProxyEnvironment(const ScopedProxyEnvironment&) = delete;
  ScopedProxyEnvironment& operator=(const ScopedProxyEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace VirelantDesktop::testing
