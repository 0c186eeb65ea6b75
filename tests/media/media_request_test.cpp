#include "modules/media/media_request.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "talvek/fixed_values.h"

namespace VirelantDesktop::media {
namespace {

const std::string kHost = fixed::kServiceHost;
const std::string kBase = "https://" + kHost;

std::string UrlError(const std::string& url) {
  const UrlCheck check = ValidateMediaUrl(url);
  return check.ok() ? "ok:" + check.path : check.error;
}

TEST(ValidateMediaUrl, SchemeHostAndPort) {
  std::string upper = kHost;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(UrlError("HTTPS://" + upper + "/api/storage/x"), "ok:/api/storage/x");
  EXPECT_EQ(UrlError(kBase + ":443/api/storage/x"), "ok:/api/storage/x");
  EXPECT_EQ(UrlError(kBase + ":8443/api/storage/x"), "host_not_allowed");
  EXPECT_EQ(UrlError("https://user@" + kHost + "/api/storage/x"), "host_not_allowed");
  EXPECT_EQ(UrlError("http://" + kHost + "/api/storage/x"), "host_not_allowed");
  EXPECT_EQ(UrlError("https://evil.example/api/storage/x"), "host_not_allowed");
  EXPECT_EQ(UrlError("https://" + kHost + ".evil.example/api/storage/x"), "host_not_allowed");
  EXPECT_EQ(UrlError(kBase), "host_not_allowed") << "nothing after the authority";
  EXPECT_EQ(UrlError("https:/"), "host_not_allowed");
}

TEST(ValidateMediaUrl, BytesAndLength) {
  EXPECT_EQ(UrlError(""), "invalid_request");
  EXPECT_EQ(UrlError(kBase + "/api/storage/a b"), "invalid_request");
  for (const char* bad : {"\"", "<", ">", "\\", "^", "`", "{", "|", "}", "\x7F", "\x01", "\xC3\xA9"}) {
    EXPECT_EQ(UrlError(kBase + "/api/storage/a" + bad), "invalid_request") << bad;
  }
  EXPECT_EQ(UrlError(kBase + "/api/storage/a!$&'()*+,;=:@[]_~-.%41"), "ok:/api/storage/a!$&'()*+,;=:@[]_~-.%41");
  const std::string prefix = kBase + "/api/storage/";
  EXPECT_TRUE(ValidateMediaUrl(prefix + std::string(2048 - prefix.size(), 'a')).ok());
  EXPECT_EQ(UrlError(prefix + std::string(2049 - prefix.size(), 'a')), "invalid_request");
  EXPECT_EQ(UrlError("ftp://x y"), "invalid_request") << "the byte rule comes before the scheme";
}

TEST(ValidateMediaUrl, Paths) {
  EXPECT_EQ(UrlError(kBase + "/api/dm/messages/image?id=1"), "ok:/api/dm/messages/image");
  EXPECT_EQ(UrlError(kBase + "/api/dm/threads/image"), "ok:/api/dm/threads/image");
  EXPECT_EQ(UrlError(kBase + "/api/workspace/directory/avatar"), "ok:/api/workspace/directory/avatar");
  EXPECT_EQ(UrlError(kBase + "/api/account/avatar"), "ok:/api/account/avatar");
  EXPECT_EQ(UrlError(kBase + "/api/account/avatar/x"), "host_not_allowed");
  EXPECT_EQ(UrlError(kBase + "/api/storage/a"), "ok:/api/storage/a");
  EXPECT_EQ(UrlError(kBase + "?x=/api/storage/a"), "host_not_allowed");
  for (const char* refused : {"/api/storage/", "/API/storage/x", "/api/storage/a/../b", "/api/storage/./b",
                              "/api/storage/..", "/api/storage/a//b", "/api/storage/%2e%2e/b", "/api/storage/a%2Fb",
                              "/api/storage/a%5cb", "/api/storage/a%00", "/api/dm/messages/image#x",
                              "/api/storage/a#"}) {
    EXPECT_EQ(UrlError(kBase + refused), "host_not_allowed") << refused;
  }
  EXPECT_EQ(UrlError(kBase + "/api/storage/a..b/.c"), "ok:/api/storage/a..b/.c");
  EXPECT_EQ(UrlError(kBase + "/api/storage/a?q=%2e%2e//x"), "ok:/api/storage/a") << "the query is not the path";
}

std::optional<std::vector<HeaderPair>> Headers(const JSValue& headers, const std::string& path = "/api/storage/x") {
  return ParseHeaders(headers, path);
}

TEST(ParseHeaders, NamesValuesAndOrder) {
  const auto parsed = Headers({{"x-workspace-id", "ws_1-A"},
                               {"Authorization", "Bearer abc.DEF-_~+/="},
                               {"accept", "image/*"},
                               {"Cache-Control", "no-cache"}});
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 4u);
  EXPECT_EQ((*parsed)[0].name, "Authorization") << "in the object's key order";
  EXPECT_EQ((*parsed)[1].name, "Cache-Control");
  EXPECT_EQ((*parsed)[2].name, "Accept");
  EXPECT_EQ((*parsed)[3].name, "X-Workspace-Id");
  EXPECT_EQ((*parsed)[3].value, "ws_1-A");
  EXPECT_TRUE(Headers(JSValue::object()));
  EXPECT_TRUE(Headers({{"x-workspace-id", ""}}));
  EXPECT_TRUE(Headers({{"X-Chat-Unlock", "k"}}, "/api/dm/messages/image"));
}

TEST(ParseHeaders, RefusedSets) {
  const JSValue refused[] = {
      {{"authorization", "Bearer "}},
      {{"authorization", "bearer abcdef"}},
      {{"authorization", "Bearer  abc"}},
      {{"authorization", "Bearer ab,c"}},
      {{"Accept", "a"}, {"accept", "b"}},
      {{"x-chat-unlock", "k"}},
      {{"cookie", "a=b"}},
      {{"accept-encoding", "gzip"}},
      {{"accept", "a\r\nb"}},
      {{"accept", "caf\xC3\xA9"}},
      {{"accept", std::string(8193, 'a')}},
      {{"accept", 5}},
      {{"x-workspace-id", std::string(65, 'a')}},
      {{"x-workspace-id", "a.b"}},
      JSValue::array(),
      "accept",
  };
  for (const JSValue& headers : refused) EXPECT_FALSE(Headers(headers)) << headers.dump();
  EXPECT_TRUE(Headers({{"accept", std::string(8192, 'a')}}));
}

JSValue Request() {
  return {{"url", kBase + "/api/storage/f?v=2"},
          {"kind", "image"},
          {"requestId", "r1"},
          {"scope", {{"uid", "up"}, {"ws", "w s"}}}};
}

std::string Code(const JSValue& request) {
  const FetchRequestCheck check = ParseFetchRequest(request);
  return check.request ? "ok" : check.code;
}

TEST(ParseFetchRequest, BuildsTheRecord) {
  JSValue request = Request();
  request["headers"] = {{"authorization", "Bearer t0k"}};
  request["memoryOnly"] = true;
  const FetchRequestCheck check = ParseFetchRequest(request);
  ASSERT_TRUE(check.request) << check.code;
  const FetchRequest& r = *check.request;
  EXPECT_EQ(r.url, kBase + "/api/storage/f?v=2");
  EXPECT_EQ(r.path, "/api/storage/f");
  EXPECT_EQ(r.kind, "image");
  EXPECT_EQ(r.requestId, "r1");
  EXPECT_EQ(r.uid + "|" + r.ws + "|" + r.thread, "u_up|w_s|_none");
  EXPECT_EQ(r.dedupKey, "u_up|w_s|_none|m|" + r.url);
  EXPECT_EQ(r.hash.size(), 64u);
  ASSERT_EQ(r.headers.size(), 1u);
  EXPECT_EQ(r.headers[0].name, "Authorization");
  EXPECT_EQ(r.maxBytes, 10485760u);
  EXPECT_EQ(r.EffectiveMaxBytes(), 5242880u);
  EXPECT_TRUE(r.memoryOnly);
  EXPECT_EQ(r.timeoutMs, 60000u);
}

TEST(ParseFetchRequest, RulesInOrder) {
  EXPECT_EQ(Code(JSValue::array()), "invalid_request");
  for (const char* field : {"url", "kind", "requestId", "scope"}) {
    JSValue missing = Request();
    missing.erase(field);
    EXPECT_EQ(Code(missing), "invalid_request") << field;
    JSValue wrongType = Request();
    wrongType[field] = 5;
    EXPECT_EQ(Code(wrongType), "invalid_request") << field;
  }
  JSValue request = Request();
  request["requestId"] = "";
  EXPECT_EQ(Code(request), "invalid_request");

  // A bad kind is reported before a bad host; a bad host before bad headers.
  request = Request();
  request["kind"] = "Image";
  request["url"] = "https://elsewhere.example/x";
  EXPECT_EQ(Code(request), "invalid_request");
  request["kind"] = "video";
  EXPECT_EQ(Code(request), "host_not_allowed");
  request["headers"] = {{"cookie", "x"}};
  EXPECT_EQ(Code(request), "host_not_allowed");
  request["url"] = kBase + "/api/storage/v";
  EXPECT_EQ(Code(request), "invalid_request");
  request["headers"] = nullptr;
  EXPECT_EQ(Code(request), "ok");
  request["headers"] = "accept";
  EXPECT_EQ(Code(request), "invalid_request");

  request = Request();
  request["kind"] = "video";
  request["memoryOnly"] = true;
  EXPECT_EQ(Code(request), "invalid_request");
  request["memoryOnly"] = "true";
  EXPECT_EQ(Code(request), "ok") << "a memoryOnly that is not a boolean is ignored";
  request["kind"] = "avatar";
  request["memoryOnly"] = true;
  EXPECT_EQ(ParseFetchRequest(request).request->EffectiveMaxBytes(), 2097152u);
}

TEST(ParseFetchRequest, KindsAndTimeOuts) {
  const std::pair<const char*, uint64_t> limits[] = {
      {"image", 10485760}, {"avatar", 10485760}, {"video", 209715200}, {"audio", 20971520}, {"file", 104857600}};
  for (const auto& [kind, maxBytes] : limits) {
    JSValue request = Request();
    request["kind"] = kind;
    const auto check = ParseFetchRequest(request);
    ASSERT_TRUE(check.request) << kind;
    EXPECT_EQ(check.request->maxBytes, maxBytes) << kind;
    EXPECT_EQ(check.request->timeoutMs, std::string(kind) == "video" ? 180000u : 60000u) << kind;
  }
  const KindRule& image = *FindKind("image");
  const JSValue cases[][2] = {{0, 1000},         {1000, 1000},       {1000.5, 1000},   {1500.9, 1500},
                              {-5, 1000},        {10000000, 300000}, {300000, 300000}, {299999.99, 299999},
                              {"5000", 60000},   {true, 60000},      {nullptr, 60000}};
  for (const auto& [given, expected] : cases) {
    EXPECT_EQ(RequestTimeoutMs(image, &given), expected.get<uint32_t>()) << given.dump();
  }
  const JSValue nan = std::nan("");
  const JSValue infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(RequestTimeoutMs(image, &nan), 1000u);
  EXPECT_EQ(RequestTimeoutMs(image, &infinity), 300000u);
  EXPECT_EQ(RequestTimeoutMs(*FindKind("video"), nullptr), 180000u);
}

}  // namespace
}  // namespace VirelantDesktop::media
