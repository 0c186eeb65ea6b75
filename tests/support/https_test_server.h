// An HTTPS server on 127.0.0.1 for tests and benchmarks, with a certificate
// issued at first use by a throw-away certificate authority. Handlers are
// cpp-httplib's; they run on the server's own threads.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace VirelantDesktop::testing {

class HttpsTestServer {
 public:
  // The certificate names "localhost", "app.talvek.chat",
  // "updates.talvek.chat" and the address 127.0.0.1.
  HttpsTestServer();
  ~HttpsTestServer();
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  // Register handlers here before Start().
  httplib::SSLServer& Server() { return *server_; }
  // Listens on an ephemeral port and serves on a thread of its own.
  void Start();
  // Stops accepting and waits for the serving thread (also done by the destructor).
  void Stop();

  uint16_t Port() const { return port_; }
  std::string BaseUrl() const { return "https://localhost:" + std::to_string(port_); }
  // Requests that reached a handler (or got a 404) so far.
  size_t RequestCount() const { return requests_.load(); }

  // PEM files of the test authority and of the server's certificate and key.
  static const std::string& CaFile();
  static const std::string& CertFile();
  static const std::string& KeyFile();

 private:
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  uint16_t port_ = 0;
  std::atomic<size_t> requests_{0};
};

}  // namespace VirelantDesktop::testing
