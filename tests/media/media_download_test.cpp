// The download engine end to end: the Media module against a local HTTPS
// server standing in for the service.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/confined_tree.h"
#include "tests/media/media_test_fixture.h"
#include "tests/support/connect_proxy.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace VirelantDesktop::media {
namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, '\x01');
const std::string kPdf = "%PDF-1.7\n" + std::string(100, 'x');
const std::string kMp4Isom = std::string("\0\0\0\x18", 4) + "ftypisom" + std::string(100, '\0');

using DownloadTest = MediaModuleTest;

TEST_F(DownloadTest, JoinedCallersShareOneRequestAndEachGetsProgress) {
  std::atomic<int> requests{0};
  Server().Get("/api/storage/joined", [&](const httplib::Request&, httplib::Response& response) {
    ++requests;
    StreamSlowly(response, kPng + std::string(65536, '\x02'), 4, 300ms);
  });
  StartServer();
  auto first = Fetch(Request("joined", "image", "r1"));
  std::this_thread::sleep_for(100ms);
  auto second = Fetch(Request("joined", "image", "r2"));
  ASSERT_TRUE(Settle(first));
  ASSERT_TRUE(Settle(second));
  ASSERT_TRUE(first->IsResolved()) << first->Error().code;
  EXPECT_EQ(first->Value(), second->Value());
  EXPECT_EQ(requests.load(), 1);
  const JSValue result = first->Value();
  EXPECT_EQ(result["mime"], "image/png");
  EXPECT_EQ(result["temp"], false);
  EXPECT_EQ(result["bytes"], 4 * (kPng.size() + 65536));
  EXPECT_EQ(std::filesystem::path(result["path"].get<std::string>()).extension(), ".png");
  EXPECT_EQ(std::filesystem::status(result["path"].get<std::string>()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);
  const auto progress = Progress();
  ASSERT_EQ(progress.count("r1"), 1u);
  ASSERT_EQ(progress.count("r2"), 1u) << "the joined caller gets the later reports";
  EXPECT_EQ(progress.at("r1").front()["total"], 0) << "no Content-Length";
}

TEST_F(DownloadTest, MemoryOnlyAndDiskAreTwoDownloads) {
  std::atomic<int> requests{0};
  Server().Get("/api/storage/both", [&](const httplib::Request&, httplib::Response& response) {
    ++requests;
    std::this_thread::sleep_for(200ms);
    response.set_content(kPng, "image/png");
  });
  StartServer();
  auto memory = Fetch(Request("both", "image", "m", true));
  auto disk = Fetch(Request("both", "image", "d", false));
  ASSERT_TRUE(Settle(memory) && Settle(disk));
  EXPECT_EQ(requests.load(), 2);
  const JSValue value = memory->Value();
  EXPECT_EQ(value["path"], "");
  EXPECT_EQ(value["temp"], true);
  EXPECT_EQ(value["dataUri"].get<std::string>().rfind("data:image/png;base64,iVBORw0KGgo", 0), 0u);
  EXPECT_EQ(ScopeFiles(), std::vector<std::string>{disk->Value()["path"].get<std::string>().substr(
                              MediaRoot().size() + std::string("/u1/w1/t1/").size())});
}

TEST_F(DownloadTest, AnswersThatAreRefused) {
  Server().Get("/api/storage/redirect", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("https://app.talvek.chat/api/storage/png", 302);
  });
  std::atomic<int> followed{0};
  Server().Get("/api/storage/png", [&](const httplib::Request& request, httplib::Response& response) {
    ++followed;
    EXPECT_EQ(request.get_header_value("Accept-Encoding"), "identity");
    response.set_content(kPng, "image/png");
  });
  Server().Get("/api/storage/gzip", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Encoding", "gzip");
    response.set_content(kPng, "image/png");
  });
  Server().Get("/api/storage/html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("<html><body>sign in</body></html>", "text/html");
  });
  Server().Get("/api/storage/declared", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kPdf, "image/png");  // a declared image that is not one
  });
  Server().Get("/api/storage/missing", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
  });
  Server().Get("/api/storage/short", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(1000, "image/png", [](size_t, size_t, httplib::DataSink& sink) {
      sink.write(kPng.data(), 50);  // then the connection ends
      return false;
    });
  });
  StartServer();
  const auto code = [&](const std::string& name, const std::string& kind) {
    auto probe = Fetch(Request(name, kind, name));
    EXPECT_TRUE(Settle(probe)) << name;
    return probe->IsRejected() ? probe->Error().code + "/" + probe->Error().message : "resolved";
  };
  EXPECT_EQ(code("redirect", "image"), "redirect_blocked/redirect_blocked");
  EXPECT_EQ(followed.load(), 0) << "the Location is never followed";
  EXPECT_EQ(code("gzip", "image"), "network/network");
  EXPECT_EQ(code("html", "image"), "mime_mismatch/mime_mismatch");
  EXPECT_EQ(code("declared", "file"), "mime_mismatch/mime_mismatch");
  EXPECT_EQ(code("missing", "file"), "http_error/404");
  EXPECT_EQ(code("short", "image"), "network/network");
  EXPECT_TRUE(ScopeFiles().empty()) << "no file and no .part left behind";
}

// A proxy configured the usual way (https_proxy) carries the downloads, and
// the answer behind its "200 Connection established" is the one judged. No
// connect-to rule is set, so only the proxy can reach the server.
TEST_F(DownloadTest, DownloadsGoThroughTheConnectProxyOfTheEnvironment) {
  const std::string body = kPng + std::string(200000, '\x02');
  Server().Get("/api/storage/png", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "image/png");
  });
  Server().Get("/api/storage/direct", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(kPng, "image/png");
  });
  Server().Get("/api/storage/missing", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
  });
  Server().Get("/api/storage/redirect", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("https://app.talvek.chat/api/storage/png", 302);
  });
  StartServer();
  testing::ConnectProxy proxy(server_.Port());
  proxy.Start();
  const auto code = [&](const std::string& name, const std::string& kind) {
    auto probe = Fetch(Request(name, kind, name));
    EXPECT_TRUE(Settle(probe)) << name;
    return probe->IsRejected() ? probe->Error().code + "/" + probe->Error().message : "resolved";
  };
  {
    const testing::ScopedProxyEnvironment environment(proxy.Url());
    SetDownloadTrustForTesting(testing::HttpsTestServer::CaFile(), "");
    auto probe = Fetch(Request("png", "image", "p"));
    ASSERT_TRUE(Settle(probe));
    ASSERT_TRUE(probe->IsResolved()) << probe->Error().code << " " << probe->Error().message;
    EXPECT_EQ(probe->Value()["mime"], "image/png");
    EXPECT_EQ(probe->Value()["bytes"], body.size());
    EXPECT_EQ(testing::ReadTextFile(probe->Value()["path"].get<std::string>()), body);
    ASSERT_EQ(Progress().count("p"), 1u);
    EXPECT_EQ(Progress().at("p").front()["total"], body.size()) << "the server's Content-Length, not the proxy's";

    EXPECT_EQ(code("missing", "file"), "http_error/404");
    EXPECT_EQ(code("redirect", "image"), "redirect_blocked/redirect_blocked");
    EXPECT_EQ(proxy.Requests(), std::vector<std::string>(3, "CONNECT app.talvek.chat:443"));
    EXPECT_GE(proxy.BytesToClients(), body.size());
    // The environment changes next: no worker may still be running.
    for (const auto& started : probes_) EXPECT_TRUE(started->WaitReleased());
  }
  {
    // no_proxy naming the host: straight to the server.
    const testing::ScopedProxyEnvironment environment(proxy.Url(), "app.talvek.chat");
    SetDownloadTrustForTesting(testing::HttpsTestServer::CaFile(),
                               "app.talvek.chat:443:127.0.0.1:" + std::to_string(server_.Port()));
    EXPECT_EQ(code("direct", "image"), "resolved");
    EXPECT_EQ(proxy.Requests().size(), 3u);
    for (const auto& started : probes_) EXPECT_TRUE(started->WaitReleased());
  }
}

TEST_F(DownloadTest, ANewTypeReplacesTheOlderCopyAndAudioAcceptsMp4) {
  std::string body = kPdf;
  std::mutex bodyLock;
  Server().Get("/api/storage/doc", [&](const httplib::Request&, httplib::Response& response) {
    std::lock_guard lock(bodyLock);
    response.set_content(body, "application/octet-stream");
  });
  Server().Get("/api/storage/voice", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kMp4Isom, "audio/mp4");
  });
  StartServer();
  auto pdf = Fetch(Request("doc", "file", "a"));
  ASSERT_TRUE(Settle(pdf));
  EXPECT_EQ(pdf->Value()["mime"], "application/pdf");
  const std::string hash = std::filesystem::path(pdf->Value()["path"].get<std::string>()).stem();
  EXPECT_EQ(ScopeFiles(), std::vector<std::string>{hash + ".pdf"});
  {
    std::lock_guard lock(bodyLock);
    body = kPng;
  }
  auto png = Fetch(Request("doc", "file", "b"));
  ASSERT_TRUE(Settle(png));
  EXPECT_EQ(ScopeFiles(), std::vector<std::string>{hash + ".png"});

  auto audio = Fetch(Request("voice", "audio", "c"));
  ASSERT_TRUE(Settle(audio));
  ASSERT_TRUE(audio->IsResolved()) << audio->Error().code;
  EXPECT_EQ(audio->Value()["mime"], "video/mp4");
  EXPECT_EQ(std::filesystem::path(audio->Value()["path"].get<std::string>()).extension(), ".mp4");
}

TEST_F(DownloadTest, SizeLimitsHoldWithoutAndAgainstContentLength) {
  Server().Get("/api/storage/endless", [](const httplib::Request&, httplib::Response& response) {
    StreamSlowly(response, kPng + std::string(1 << 20, '\x03'), 11, 0ms);  // 11 MiB, no Content-Length
  });
  Server().Get("/api/storage/declared-big", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(11u << 20, "image/png", [](size_t, size_t, httplib::DataSink&) { return false; });
  });
  StartServer();
  auto endless = Fetch(Request("endless", "image", "e"));
  ASSERT_TRUE(Settle(endless));
  EXPECT_EQ(endless->Error().code, "too_large");
  const auto progress = Progress();
  ASSERT_EQ(progress.count("e"), 1u);
  for (const JSValue& report : progress.at("e")) {
    EXPECT_EQ(report["total"], 0);
    EXPECT_LE(report["received"].get<uint64_t>(), 10u << 20);
  }
  auto declared = Fetch(Request("declared-big", "image", "d"));
  ASSERT_TRUE(Settle(declared));
  EXPECT_EQ(declared->Error().code, "too_large");
  EXPECT_TRUE(ScopeFiles().empty());
}

TEST_F(DownloadTest, CancelClearAndRemoveStopARunningDownload) {
  Server().Get(R"(/api/storage/slow\d)", [](const httplib::Request&, httplib::Response& response) {
    StreamSlowly(response, kPng, 400, 50ms);  // 20 s unless stopped
  });
  Server().Get("/api/storage/later", [](const httplib::Request&, httplib::Response& response) {
    StreamSlowly(response, kPng, 10, 100ms);
  });
  StartServer();

  auto canceled = Fetch(Request("slow1", "image", "c1"));
  ASSERT_TRUE(context_.WaitForEvents(1, 10s));
  EXPECT_EQ(CallAndWait("cancel", {"c1"})->Value(), true);
  ASSERT_TRUE(Settle(canceled, 3s)) << "the transfer is interrupted, not left to its next chunk";
  EXPECT_EQ(canceled->Error().code, "canceled");
  EXPECT_EQ(CallAndWait("cancel", {"nobody"})->Value(), true);

  auto removed = Fetch(Request("slow2", "image", "r1"));
  auto other = Fetch(Request("later", "image", "r2"));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(CallAndWait("remove", {Scope(), Url("slow2")})->Value(), true);
  ASSERT_TRUE(Settle(removed, 3s));
  EXPECT_EQ(removed->Error().code, "changed");
  ASSERT_TRUE(Settle(other));
  EXPECT_EQ(other->Error().code, "changed") << "another URL of the scope that finishes afterwards";

  auto cleared = Fetch(Request("slow3", "image", "x"));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(CallAndWait("clear", {nullptr})->Value(), true);
  ASSERT_TRUE(Settle(cleared, 3s));
  EXPECT_EQ(cleared->Error().code, "canceled");
  EXPECT_TRUE(ScopeFiles().empty()) << "no .part left";
}

TEST_F(DownloadTest, OneOfTwoJoinedCallersCancels) {
  Server().Get("/api/storage/pair", [](const httplib::Request&, httplib::Response& response) {
    StreamSlowly(response, kPng, 6, 100ms);
  });
  StartServer();
  auto staying = Fetch(Request("pair", "image", "stay"));
  std::this_thread::sleep_for(100ms);
  auto leaving = Fetch(Request("pair", "image", "leave"));
  std::this_thread::sleep_for(100ms);
  CallAndWait("cancel", {"leave"});
  ASSERT_TRUE(Settle(leaving) && Settle(staying));
  EXPECT_EQ(leaving->Error().code, "canceled");
  EXPECT_TRUE(staying->IsResolved()) << "the download goes on for the other caller";
}

TEST_F(DownloadTest, HeadersLaterThanFifteenSecondsTimeOut) {
  Server().Get("/api/storage/sleepy", [](const httplib::Request&, httplib::Response& response) {
    std::this_thread::sleep_for(17s);
    response.set_content(kPng, "image/png");
  });
  StartServer();
  JSValue request = Request("sleepy", "video", "s");
  request["timeoutMs"] = 300000;
  auto probe = Fetch(request);
  ASSERT_TRUE(Settle(probe, 30s));
  EXPECT_EQ(probe->Error().code, "timeout");
  EXPECT_TRUE(ScopeFiles().empty());
}

// A finished download is marked with its URL before it becomes read-only:
// afterwards only a privileged process could mark it, so the test runs the
// download as an ordinary user.
TEST_F(DownloadTest, TheCachedFileCarriesItsUrlForAnOrdinaryUser) {
  const std::string home = dir_.Join("user");
  std::filesystem::create_directories(home);
  testing::WriteTextFile(home + "/probe", "x");
  platform::SetOriginUrl(home + "/probe", "https://probe");
  if (platform::OriginUrl(home + "/probe") != "https://probe") {
    GTEST_SKIP() << "this file system keeps no user attributes, even for root";
  }
  // The authority's file lies in a folder only root may enter.
  testing::WriteTextFile(home + "/ca.pem", testing::ReadTextFile(testing::HttpsTestServer::CaFile()));
  testing::HandToUnprivilegedUser(home);
  Server().Get("/api/storage/marked", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kPng, "image/png");
  });
  // The server starts in the child: the test process itself stays single-threaded for the fork.
  const std::string outcome = testing::RunInChild([&]() -> std::string {
    server_.Start();
    if (!testing::DropToUnprivilegedUser()) return "cannot drop privileges";
    SetDownloadTrustForTesting(home + "/ca.pem", "app.talvek.chat:443:127.0.0.1:" + std::to_string(server_.Port()));
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    ResetMediaRootForTesting();
    auto probe = media_.Call("fetchToCache", {Request("marked", "image", "r1")});
    if (!probe->WaitSettled(std::chrono::seconds(30))) return "the download did not settle";
    if (probe->IsRejected()) return "the download failed: " + probe->Error().code;
    const std::string path = probe->Value()["path"].get<std::string>();
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || (info.st_mode & 07777) != 0444) return "the cached file is not read-only";
    if (platform::OriginUrl(path) != Url("marked")) return "the cached file carries no origin URL";
    return {};
  });
  EXPECT_EQ(outcome, "");
}

}  // namespace
}  // namespace VirelantDesktop::media
