#include "updater/asset_fetcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/support/connect_proxy.h"
#include "tests/support/https_test_server.h"
#include "updater/feed_url.h"

namespace TalvekUpdater {
namespace {

using VirelantDesktop::testing::HttpsTestServer;

class AssetFetcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAssetFetchTrustForTesting(HttpsTestServer::CaFile(), "");
    server_.Server().Get(R"(/feed/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
      std::string plainBase;
      {
        std::lock_guard lock(mutex_);
        plainBase = plainBase_;
        seen_.push_back(request.path + " t=" + request.get_param_value("t") + " ua=" +
                        request.get_header_value("User-Agent") + " cc=" + request.get_header_value("Cache-Control"));
      }
      const std::string name = request.matches[1];
      if (name == "manifest.json") response.set_content(R"({"version":"0.2.2"})", "application/json");
      else if (name == "exactly-1mib") response.set_content(std::string(kMaxAssetBytes, 'x'), "text/plain");
      else if (name == "2mib") response.set_content(std::string(2 * kMaxAssetBytes, 'x'), "text/plain");
      else if (name == "2mib-chunked") {
        response.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
          if (offset >= 2 * kMaxAssetBytes) {
            sink.done();
            return true;
          }
          const std::string block(65536, 'x');
          return sink.write(block.data(), block.size());
        });
      }
      else if (name == "to-https") response.set_redirect(server_.BaseUrl() + "/feed/manifest.json");
      else if (name == "to-http") response.set_redirect(plainBase + "/manifest.json");
      else if (name == "created") response.status = 201, response.set_content("{}", "text/plain");
      else response.status = 404;
    });
    server_.Start();
    feed_ = server_.BaseUrl() + "/feed/";
  }
  void TearDown() override { SetAssetFetchTrustForTesting("", ""); }

  HttpsTestServer server_;
  std::string feed_;
  std::string plainBase_;
  std::mutex mutex_;  // guards seen_ and plainBase_ (read by the server's threads)
  std::vector<std::string> seen_;
};

TEST_F(AssetFetcherTest, FetchesWithTheCacheBreakerAndItsHeaders) {
  EXPECT_EQ(FetchAsset("manifest.json", feed_), R"({"version":"0.2.2"})");
  EXPECT_EQ(FetchAsset("manifest.json", server_.BaseUrl() + "/feed"), R"({"version":"0.2.2"})") << "separator added";
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_TRUE(seen_[0].starts_with("/feed/manifest.json t=")) << seen_[0];
  EXPECT_NE(seen_[0].find(" ua=TALVEK-Updater/1 cc=no-cache"), std::string::npos) << seen_[0];
  EXPECT_EQ(FetchAsset("to-https", feed_), R"({"version":"0.2.2"})") << "https to https redirects are followed";
  EXPECT_EQ(FetchAsset("exactly-1mib", feed_)->size(), kMaxAssetBytes);
}

TEST_F(AssetFetcherTest, EveryFailureIsAbsent) {
  EXPECT_EQ(FetchAsset("pause.json", feed_), std::nullopt) << "404";
  EXPECT_EQ(FetchAsset("created", feed_), std::nullopt) << "200 only";
  EXPECT_FALSE(FetchAsset("2mib", feed_).has_value());
  EXPECT_FALSE(FetchAsset("2mib-chunked", feed_).has_value()) << "no length given";

  // A plain server that would answer: the redirect to it is refused.
  httplib::Server plain;
  std::atomic<int> plainRequests{0};
  plain.Get("/manifest.json", [&](const httplib::Request&, httplib::Response& response) {
    ++plainRequests;
    response.set_content("{}", "text/plain");
  });
  const int port = plain.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serving([&] { plain.listen_after_bind(); });
  {
    std::lock_guard lock(mutex_);
    plainBase_ = "http://127.0.0.1:" + std::to_string(port);
  }
  EXPECT_EQ(FetchAsset("to-http", feed_), std::nullopt) << "never from https to http";
  plain.stop();
  serving.join();
  EXPECT_EQ(plainRequests, 0);

  SetAssetFetchTrustForTesting("", "");
  EXPECT_EQ(FetchAsset("manifest.json", feed_), std::nullopt) << "a certificate the system does not trust";
}

TEST_F(AssetFetcherTest, BadNamesAndPlainFeedsNeverReachTheNetwork) {
  const size_t before = server_.RequestCount();
  const std::vector<std::string> names = {"a/b", "..", "c:d", "e\\f", "g\x01h", "", std::string(201, 'n')};
  for (const std::string& name : names) {
    EXPECT_EQ(FetchAsset(name, feed_), std::nullopt) << name;
  }
  EXPECT_EQ(FetchAsset("manifest.json", "http://localhost:" + std::to_string(server_.Port()) + "/feed/"), std::nullopt);
  EXPECT_EQ(FetchAsset("manifest.json", "https:/"), std::nullopt);
  EXPECT_EQ(server_.RequestCount(), before);
}

TEST_F(AssetFetcherTest, TheDefaultFeedReachesTheUpdateHost) {
  SetAssetFetchTrustForTesting(HttpsTestServer::CaFile(),
                               "updates.talvek.chat:443:127.0.0.1:" + std::to_string(server_.Port()));
  EXPECT_EQ(FetchAsset("manifest.json", "https://updates.talvek.chat/feed/"), R"({"version":"0.2.2"})");
}

// The proxy of the environment carries the fetches, redirects included; no
// connect-to rule is set, so only the proxy can reach the server.
TEST_F(AssetFetcherTest, FetchesThroughTheConnectProxyOfTheEnvironment) {
  VirelantDesktop::testing::ConnectProxy proxy(server_.Port());
  proxy.Start();
  const VirelantDesktop::testing::ScopedProxyEnvironment environment(proxy.Url());
  EXPECT_EQ(FetchAsset("manifest.json", "https://updates.talvek.chat/feed/"), R"({"version":"0.2.2"})");
  EXPECT_EQ(FetchAsset("to-https", "https://updates.talvek.chat/feed/"), R"({"version":"0.2.2"})");
  EXPECT_EQ(FetchAsset("created", "https://updates.talvek.chat/feed/"), std::nullopt) << "200 only";
  const std::string local = "CONNECT localhost:" + std::to_string(server_.Port());
  EXPECT_EQ(proxy.Requests(), (std::vector<std::string>{"CONNECT updates.talvek.chat:443",
                                                        "CONNECT updates.talvek.chat:443", local,
                                                        "CONNECT updates.talvek.chat:443"}));
}

TEST(FeedUrl, ChannelAndPlatformFolders) {
  EXPECT_EQ(UpdateChannel(), "production");
  EXPECT_EQ(FeedUrl("https://u.example/talvek-desktop", "production"),
            "https://u.example/talvek-desktop/production/linux-x64/");
  EXPECT_EQ(FeedUrl("https://u.example/talvek-desktop/", "beta"), "https://u.example/talvek-desktop/beta/linux-x64/");
  EXPECT_EQ(FeedUrl("https://u.example/talvek-desktop\\", "beta"), "https://u.example/talvek-desktop\\beta/linux-x64/");
  EXPECT_TRUE(DefaultFeedUrl().ends_with("/talvek-desktop/production/linux-x64/"));
  EXPECT_EQ(AssetUrl("https://h/f\\", "pause.json", 42), "https://h/f\\pause.json?t=42");
}

}  // namespace
}  // namespace TalvekUpdater
