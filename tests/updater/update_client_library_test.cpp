// libtalvek-update.so end to end: the driver runs from a temporary
// installation and talks to a feed on a local HTTPS server.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/connect_proxy.h"
#include "tests/updater/client/update_client_fixture.h"

namespace VirelantDesktop::update_client::testing {
namespace {

using VirelantDesktop::testing::TempDir;

std::string HexDigest(const std::string& data, const EVP_MD* md) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr);
  std::ostringstream hex;
  for (unsigned i = 0; i < length; ++i) hex << "0123456789abcdef"[digest[i] >> 4] << "0123456789abcdef"[digest[i] & 15];
  return hex.str();
}

struct Asset {
  std::string id = "talvek", version = "1.1.0", type = "Full", fileName = "talvek-1.1.0-full.nupkg";
  std::string sha1, sha256;
  uint64_t size = 0;
  bool notes = false;

  std::string Json() const {
    std::string text = "{\"PackageId\":\"" + id + "\",\"Version\":\"" + version + "\",\"Type\":\"" + type +
                       "\",\"FileName\":\"" + fileName + "\",\"SHA1\":\"" + sha1 + "\",\"SHA256\":\"" + sha256 +
                       "\",\"Size\":" + std::to_string(size);
    return text + (notes ? ",\"NotesMarkdown\":\"n\",\"NotesHtml\":\"h\"}" : "}");
  }
};

std::string Feed(const std::vector<Asset>& assets) {
  std::string text = "{\"Assets\":[";
  for (size_t i = 0; i < assets.size(); ++i) text += (i ? "," : "") + assets[i].Json();
  return text + "]}";
}

class UpdateClientLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.Join("root");
    LayOutInstallation(root_, "1.0.0");
    // Not a multiple of the transfer blocks, so progress has steps.
    package_.resize(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < package_.size(); ++i) package_[i] = static_cast<char>(i * 7 + i / 4096);
    good_.sha1 = HexDigest(package_, EVP_sha1());
    good_.sha256 = HexDigest(package_, EVP_sha256());
    good_.size = package_.size();
  }

  std::string Run(const std::vector<std::string>& args) { return RunDriver(root_, args); }
  bool Exists(const std::string& relative) const { return fs::exists(root_ + "/" + relative); }

  TempDir temp_;
  std::string root_;
  std::string package_;
  Asset good_;
  FeedServer server_;
};

TEST_F(UpdateClientLibraryTest, DownloadsTheNewestFullPackageWithProgressAndFindsItPending) {
  Asset older = good_;
  older.version = "1.0.5";
  older.fileName = "talvek-1.0.5-full.nupkg";
  Asset delta = good_;
  delta.type = "Delta";
  delta.fileName = "talvek-1.1.0-delta.nupkg";
  server_.Put("releases.json", Feed({older, good_, delta}));
  server_.Put(good_.fileName, package_);

  const std::string out = Run({"download", server_.FeedUrl()});
  EXPECT_NE(out.find("check 0\n"), std::string::npos) << out;
  // Notes the feed left out stay null for the caller to judge.
  EXPECT_NE(out.find("target talvek 1.1.0 Full talvek-1.1.0-full.nupkg " + std::to_string(package_.size()) + " " +
                     good_.sha256 + " (null)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("delta talvek 1.1.0 Delta talvek-1.1.0-delta.nupkg"), std::string::npos);
  EXPECT_NE(out.find("download ok\n"), std::string::npos) << out;
  // Whole percents, rising, 100 last.
  std::istringstream lines(out);
  std::vector<int> percents;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("progress ", 0) == 0) percents.push_back(std::stoi(line.substr(9)));
  }
  ASSERT_GE(percents.size(), 2u);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(VirelantDesktop::testing::ReadTextFile(root_ + "/packages/talvek-1.1.0-full.nupkg"), package_);
  EXPECT_FALSE(Exists("packages/talvek-1.1.0-full.nupkg.partial"));
  EXPECT_FALSE(Exists("packages/talvek-1.1.0-delta.nupkg"));  // deltas are never fetched

  // Beside it: an older package, another app's, and a link posing as a newer one.
  VirelantDesktop::testing::WriteTextFile(root_ + "/packages/talvek-0.9.0-full.nupkg", "old");
  VirelantDesktop::testing::WriteTextFile(root_ + "/packages/other-9.0.0-full.nupkg", "other");
  fs::create_symlink(root_ + "/packages/talvek-0.9.0-full.nupkg", root_ + "/packages/talvek-2.0.0-full.nupkg");
  const std::string pending = Run({"pending", server_.FeedUrl()});
  EXPECT_NE(pending.find("pending talvek 1.1.0 Full talvek-1.1.0-full.nupkg " + std::to_string(package_.size()) +
                         " " + good_.sha256 + "  " + good_.sha1 + "\n"),
            std::string::npos)
      << pending;

  const std::string info = Run({"info", server_.FeedUrl()});
  EXPECT_NE(info.find("app-id talvek\nversion 1.0.0\n"), std::string::npos) << info;
}

// The check and the download go through the proxy the environment names;
// no connect-to rule is set, so only the proxy can reach the feed.
TEST_F(UpdateClientLibraryTest, ChecksAndDownloadsThroughTheConnectProxyOfTheEnvironment) {
  server_.Put("releases.json", Feed({good_}));
  server_.Put(good_.fileName, package_);
  VirelantDesktop::testing::ConnectProxy proxy(server_.Port());
  proxy.Start();
  const VirelantDesktop::testing::ScopedProxyEnvironment environment(proxy.Url());

  const std::string out = Run({"download", "https://updates.talvek.chat/feed/"});
  EXPECT_NE(out.find("check 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("download ok\n"), std::string::npos) << out;
  EXPECT_EQ(VirelantDesktop::testing::ReadTextFile(root_ + "/packages/" + good_.fileName), package_);
  const std::vector<std::string> requests = proxy.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests, std::vector<std::string>(requests.size(), "CONNECT updates.talvek.chat:443"));
  EXPECT_GE(proxy.BytesToClients(), package_.size());
}

TEST_F(UpdateClientLibraryTest, ReportsNoUpdateEmptyFeedsAndFeedErrors) {
  Asset same = good_;
  same.version = "1.0.0";
  same.fileName = "talvek-1.0.0-full.nupkg";
  server_.Put("releases.json", Feed({same}));
  EXPECT_NE(Run({"check", server_.FeedUrl()}).find("check 1\n"), std::string::npos);

  Asset other = good_;
  other.id = "someone";
  server_.Put("releases.json", Feed({other}));
  EXPECT_NE(Run({"check", server_.FeedUrl()}).find("check 2\n"), std::string::npos);

  server_.Put("releases.json", "{\"Assets\": {}}");
  EXPECT_NE(Run({"check", server_.FeedUrl()}).find("check 255 releases.json has no Assets array"), std::string::npos);

  // Trust comes only from the test seam: without it the test CA is unknown.
  server_.Put("releases.json", Feed({good_}));
  EXPECT_NE(RunDriver(root_, {"check", server_.FeedUrl()}, /*trustTestCa=*/false).find("check 255 "),
            std::string::npos);

  EXPECT_NE(Run({"check", server_.FeedUrl() + "missing/"}).find("check 255 "), std::string::npos);
  EXPECT_NE(Run({"check", "http://localhost:" + std::to_string(server_.Port()) + "/feed/"}).find("manager failed: "),
            std::string::npos);
  EXPECT_NE(Run({"check", server_.FeedUrl().substr(0, server_.FeedUrl().size() - 1)}).find("manager failed: "),
            std::string::npos);

  // A redirect may not leave https.
  server_.RedirectTo("http://localhost:" + std::to_string(server_.Port()) + "/feed/releases.json");
  EXPECT_NE(Run({"check", server_.MovedUrl()}).find("check 255 "), std::string::npos);
  server_.RedirectTo(server_.FeedUrl() + "releases.json");
  EXPECT_NE(Run({"check", server_.MovedUrl()}).find("check 0\n"), std::string::npos);
}

TEST_F(UpdateClientLibraryTest, LyingFeedsAreRefusedAndLeaveNoFiles) {
  const auto lie = [&](const char* what, auto change, const std::string& served) {
    SCOPED_TRACE(what);
    Asset asset = good_;
    change(asset);
    server_.Put("releases.json", Feed({asset}));
    server_.Put(asset.fileName, served);
    const std::string out = Run({"download", server_.FeedUrl()});
    EXPECT_NE(out.find("download failed: "), std::string::npos) << out;
    EXPECT_FALSE(Exists("packages/" + good_.fileName));
    EXPECT_FALSE(Exists("packages/" + good_.fileName + ".partial"));
    EXPECT_TRUE(!Exists("packages") || fs::is_empty(root_ + "/packages"));
  };
  const std::string shorter = package_.substr(0, package_.size() - 1);
  lie("sha256", [](Asset& a) { a.sha256 = std::string(64, '0'); }, package_);
  lie("sha1", [](Asset& a) { a.sha1 = std::string(40, '0'); }, package_);
  lie("served fewer bytes", [](Asset&) {}, shorter);
  lie("served more bytes", [](Asset&) {}, package_ + "x");
  lie("escaping file name", [](Asset& a) { a.fileName = "..%2Ftalvek-1.1.0-full.nupkg"; }, package_);
  lie("file name of another version", [](Asset& a) { a.fileName = "talvek-1.2.0-full.nupkg"; }, package_);
  lie("size zero", [](Asset& a) { a.size = 0; }, package_);
  {
    SCOPED_TRACE("package missing");
    server_.Put("releases.json", Feed({good_}));
    Asset missing = good_;
    missing.version = "1.1.1";
    missing.fileName = "talvek-1.1.1-full.nupkg";
    server_.Put("releases.json", Feed({missing}));
    EXPECT_NE(Run({"download", server_.FeedUrl()}).find("download failed: "), std::string::npos);
    EXPECT_FALSE(Exists("packages/talvek-1.1.1-full.nupkg.partial"));
  }
  EXPECT_NE(Run({"pending", server_.FeedUrl()}).find("pending none: "), std::string::npos);
}

TEST_F(UpdateClientLibraryTest, APackageWhoseApplyFailedIsNotOfferedAgain) {
  fs::create_directories(root_ + "/packages");
  std::string upper = good_.sha256;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Asset shouting = good_;
  shouting.sha256 = upper;  // the feed's case does not matter
  server_.Put("releases.json", Feed({shouting}));
  const std::string record = root_ + "/packages/apply-failed.json";
  VirelantDesktop::testing::WriteTextFile(
      record, "{\"version\":\"1.1.0\",\"sha256\":\"" + good_.sha256 + "\",\"reason\":\"no talvek\"}\n");
  EXPECT_NE(Run({"check", server_.FeedUrl()}).find("check 1\n"), std::string::npos);
  VirelantDesktop::testing::WriteTextFile(root_ + "/packages/" + good_.fileName, package_);
  EXPECT_NE(Run({"pending", server_.FeedUrl()}).find("pending none: "), std::string::npos);

  // The same version published again with other bytes is a new package.
  VirelantDesktop::testing::WriteTextFile(
      record, "{\"version\":\"1.1.0\",\"sha256\":\"" + std::string(64, 'a') + "\",\"reason\":\"\"}\n");
  EXPECT_NE(Run({"check", server_.FeedUrl()}).find("check 0\n"), std::string::npos);
  EXPECT_NE(Run({"pending", server_.FeedUrl()}).find("pending talvek 1.1.0"), std::string::npos);
  // So is a record that cannot be read.
  VirelantDesktop::testing::WriteTextFile(record, "{\"version\":\"1.1.0\"}");
  EXPECT_NE(Run({"check", server_.FeedUrl()}).find("check 0\n"), std::string::npos);
}

}  // namespace
}  // namespace VirelantDesktop::update_client::testing
