// The Media module under test: an isolated cache folder, an HTTPS server
// standing in for the service host, and helpers to call and wait.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "modules/media/http_transfer.h"
#include "modules/media/media_root.h"
#include "tests/support/fake_react_context.h"
#include "tests/support/https_test_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop::media {

using namespace std::chrono_literals;

class MediaModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CACHE_HOME");
    saved_ = old ? old : "";
    setenv("XDG_CACHE_HOME", dir_.Join("cache").c_str(), 1);
    ResetMediaRootForTesting();
    media_.Initialize(context_.Context());
  }
  void TearDown() override {
    // Workers go on after they settled (the cache cap, the watchdog).
    for (const auto& probe : probes_) EXPECT_TRUE(probe->WaitReleased());
    server_.Stop();
    SetDownloadTrustForTesting("", "");
    setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
    ResetMediaRootForTesting();
  }

  // Starts the server; the service host's port 443 leads to it.
  void StartServer() {
    server_.Start();
    SetDownloadTrustForTesting(testing::HttpsTestServer::CaFile(),
                               "app.talvek.chat:443:127.0.0.1:" + std::to_string(server_.Port()));
  }
  httplib::SSLServer& Server() { return server_.Server(); }

  static std::string Url(const std::string& name) { return "https://app.talvek.chat/api/storage/" + name; }
  static JSValue Scope(const std::string& thread = "t1") {
    return JSValue{{"uid", "u1"}, {"ws", "w1"}, {"thread", thread}};
  }
  static JSValue Request(const std::string& name, const std::string& kind, const std::string& requestId,
                         bool memoryOnly = false) {
    return JSValue{{"url", Url(name)},  {"kind", kind},           {"requestId", requestId},
                   {"scope", Scope()},  {"memoryOnly", memoryOnly}};
  }

  std::shared_ptr<testing::PromiseProbe> Fetch(const JSValue& request) {
    return probes_.emplace_back(media_.Call("fetchToCache", {request}));
  }
  // Waits for the outcome; the UI queue is run meanwhile.
  static bool Settle(const std::shared_ptr<testing::PromiseProbe>& probe, std::chrono::seconds limit = 20s) {
    return probe->WaitSettled(limit);
  }
  std::shared_ptr<testing::PromiseProbe> CallAndWait(const std::string& method, const std::vector<JSValue>& args) {
    auto probe = probes_.emplace_back(media_.Call(method, args));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!probe->WaitSettled(10ms) && std::chrono::steady_clock::now() < deadline) context_.RunUIQueue();
    EXPECT_TRUE(probe->WaitSettled(0ms)) << method;
    return probe;
  }

  // The files of the test scope's folder.
  std::vector<std::string> ScopeFiles(const std::string& thread = "t1") const {
    std::vector<std::string> names;
    const std::string folder = MediaRoot() + "/u1/w1/" + thread;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Progress events per requestId.
  std::map<std::string, std::vector<JSValue>> Progress() const {
    std::map<std::string, std::vector<JSValue>> byId;
    for (const auto& event : context_.Events()) {
      if (event.eventName == "Media.progress") byId[event.payload["requestId"].get<std::string>()].push_back(event.payload);
    }
    return byId;
  }

  testing::TempDir dir_;
  std::string saved_;
  testing::HttpsTestServer server_;
  testing::FakeReactContext context_{testing::FakeReactContext::UIMode::Queued};
  testing::ModuleUnderTest media_{"Media"};
  std::vector<std::shared_ptr<testing::PromiseProbe>> probes_;
};

// Streams `chunks` pieces of `chunk` bytes, `pause` apart, without a
// Content-Length; stops early when the client went away.
inline void StreamSlowly(httplib::Response& response, std::string chunk, size_t chunks,
                         std::chrono::milliseconds pause) {
  response.set_chunked_content_provider(
      "application/octet-stream", [chunk = std::move(chunk), chunks, pause, sent = size_t{0}](
                                      size_t, httplib::DataSink& sink) mutable {
        if (sent == chunks) {
          sink.done();
          return true;
        }
        if (sent > 0) std::this_thread::sleep_for(pause);
        if (!sink.is_writable() || !sink.write(chunk.data(), chunk.size())) return false;
        ++sent;
        return true;
      });
}

}  // namespace VirelantDesktop::media
