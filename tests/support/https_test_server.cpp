#include "tests/support/https_test_server.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <stdexcept>

namespace VirelantDesktop::testing {
namespace {

struct TestAuthority {
  std::string dir, ca, cert, key;

  TestAuthority() {
    char pattern[] = "/tmp/talvek-test-ca-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("test CA: no temporary folder");
    dir = pattern;
    ca = dir + "/ca.pem";
    cert = dir + "/server.pem";
    key = dir + "/server.key";
    std::ofstream(dir + "/server.ext")
        << "subjectAltName=DNS:localhost,DNS:app.talvek.chat,DNS:updates.talvek.chat,IP:127.0.0.1\n"
           "basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n";
    const std::string d = "'" + dir + "'";
    const std::string script =
        "set -e; cd " + d +
        "; openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem"
        " -days 3 -subj '/CN=TALVEK Test Authority' -addext 'basicConstraints=critical,CA:TRUE'"
        " -addext 'keyUsage=critical,keyCertSign,cRLSign'"
        "; openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr"
        " -subj '/CN=localhost'"
        "; openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 3"
        " -extfile server.ext";
    const std::string command = "(" + script + ") >/dev/null 2>&1";
    const int rc = std::system(command.c_str());
    if (rc != 0 || !std::filesystem::exists(cert)) throw std::runtime_error("test CA: openssl failed");
  }

  ~TestAuthority() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

const TestAuthority& Authority() {
  static const TestAuthority authority;
  return authority;
}

}  // namespace

const std::string& HttpsTestServer::CaFile() { return Authority().ca; }
const std::string& HttpsTestServer::CertFile() { return Authority().cert; }
const std::string& HttpsTestServer::KeyFile() { return Authority().key; }

HttpsTestServer::HttpsTestServer()
    : server_(std::make_unique<httplib::SSLServer>(CertFile().c_str(), KeyFile().c_str())) {
  if (!server_->is_valid()) throw std::runtime_error("test server: certificate not accepted");
  server_->set_logger([this](const httplib::Request&, const httplib::Response&) { ++requests_; });
}

HttpsTestServer::~HttpsTestServer() { Stop(); }

void HttpsTestServer::Start() {
  const int port = server_->bind_to_any_port("127.0.0.1");
  if (port <= 0) throw std::runtime_error("test server: cannot listen");
  port_ = static_cast<uint16_t>(port);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpsTestServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

}  // namespace VirelantDesktop::testing
