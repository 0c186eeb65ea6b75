#include "modules/auth/loopback_http.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::authlb {
namespace {

TEST(ParseRequest, LineTargetAndTheTwoHeadersKept) {
  const ParsedRequest r = ParseRequest(
      "GET /?code=a&state=s HTTP/1.1\r\nHOST:\t 127.0.0.1:5 \r\nbad line\r\nAccept-Language: ko\r\n"
      "Accept-Language: ja\r\nX: y\r\n\r\nbody");
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.isGet);
  EXPECT_EQ(r.path, "/");
  EXPECT_EQ(r.query, "code=a&state=s");
  EXPECT_EQ(r.host, "127.0.0.1:5 ") << "leading blanks go, trailing stay";
  EXPECT_EQ(r.acceptLanguage, "ja") << "a repeated header replaces the earlier one";

  EXPECT_FALSE(ParseRequest("G").ok);
  EXPECT_FALSE(ParseRequest("GET / HTTP/1.1").ok) << "no line end";
  EXPECT_FALSE(ParseRequest("GET /\r\n\r\n").ok) << "one space only";
  EXPECT_FALSE(ParseRequest("get / X\r\n\r\n").isGet);
  const ParsedRequest noQuery = ParseRequest("POST /cb x\r\n");
  EXPECT_TRUE(noQuery.ok);
  EXPECT_EQ(noQuery.path, "/cb");
  EXPECT_EQ(noQuery.query, "");
}

TEST(QueryParam, DecodingAndFirstMatch) {
  EXPECT_EQ(QueryParam("x=1&code=%2B+&code=2", "code"), "++");
  EXPECT_EQ(QueryParam("c%6Fde=v", "code"), "v") << "names are decoded too";
  EXPECT_EQ(QueryParam("code&state=s", "code"), "") << "present without a value";
  EXPECT_EQ(QueryParam("Code=v", "code"), std::nullopt);
  EXPECT_EQ(QueryParam("", "code"), std::nullopt);
}

TEST(HostMatches, PortAndNames) {
  EXPECT_TRUE(HostMatches("127.0.0.1:8123", 8123));
  EXPECT_TRUE(HostMatches("LOCALHOST:8123", 8123));
  EXPECT_TRUE(HostMatches("", 8123));
  EXPECT_FALSE(HostMatches("127.0.0.1", 8123));
  EXPECT_FALSE(HostMatches("127.0.0.1:8124", 8123));
  EXPECT_FALSE(HostMatches("evil.example:8123", 8123));
  EXPECT_TRUE(ConstantTimeEquals("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abcd"));
}

TEST(OutcomeOfRedirect, ErrorsCodesAndTokens) {
  const std::optional<std::string> none;
  Outcome o = OutcomeOfRedirect("access_denied", "c", none, true, "v");
  EXPECT_EQ(o.status, OutcomeStatus::Canceled);
  o = OutcomeOfRedirect("server_error.x-1", "c", none, false, "v");
  EXPECT_EQ(o.status, OutcomeStatus::Error);
  EXPECT_EQ(o.error, "server_error.x-1");
  EXPECT_EQ(OutcomeOfRedirect("bad error", none, none, false, "v").error, "error");
  EXPECT_EQ(OutcomeOfRedirect(std::string(65, 'e'), none, none, false, "v").error, "error");
  EXPECT_EQ(OutcomeOfRedirect(std::string(64, 'e'), none, none, false, "v").error, std::string(64, 'e'));
  EXPECT_EQ(OutcomeOfRedirect("", none, none, false, "v").error, "error");
  EXPECT_EQ(OutcomeOfRedirect(none, "", "t", false, "v").error, "no_code") << "code wins even when empty";
  o = OutcomeOfRedirect(none, "c0de", "t", true, "verifier");
  EXPECT_EQ(o.status, OutcomeStatus::Ok);
  EXPECT_EQ(o.kind, "code");
  EXPECT_EQ(o.value, "c0de");
  EXPECT_EQ(o.codeVerifier, "verifier");
  EXPECT_TRUE(o.stateVerified);
  o = OutcomeOfRedirect(none, none, "t", false, "verifier");
  EXPECT_EQ(o.kind, "ott");
  EXPECT_EQ(o.value, "t");
}

TEST(BuildResultPage, LanguageByTheFirstEntry) {
  const std::pair<const char*, const char*> cases[] = {
      {"zh-CN,ko;q=0.8", "lang=\"zh\""}, {"  JA-jp", "lang=\"ja\""}, {"ko-KR;q=0.9", "lang=\"ko\""},
      {"en-US, ko", "lang=\"en\""},      {"fr", "lang=\"en\""},       {"", "lang=\"en\""},
      {"k", "lang=\"en\""}};
  for (const auto& [header, lang] : cases) EXPECT_NE(BuildResultPage(header).find(lang), std::string::npos) << header;
  const std::string korean = BuildResultPage("ko");
  EXPECT_NE(korean.find("<title>로그인 완료 · TALVEK</title>"), std::string::npos);
  EXPECT_NE(korean.find("<h1>로그인 완료</h1>"), std::string::npos);
  EXPECT_NE(korean.find("<p>이 창을 닫고 TALVEK로 돌아가세요.</p>"), std::string::npos);
  EXPECT_EQ(korean.find("@L@"), std::string::npos);
  EXPECT_EQ(korean.find("@T@"), std::string::npos);
  EXPECT_EQ(korean.find("@S@"), std::string::npos);
  EXPECT_NE(BuildResultPage("en").find("<h1>Signed in</h1>"), std::string::npos);
  EXPECT_NE(BuildResultPage("en").find("viewBox=\"0 0 2453 220\""), std::string::npos);
}

TEST(Answers, ByteExact) {
  EXPECT_EQ(OkAnswer("héllo"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 6\r\n"
            "Cache-Control: no-store\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\nhéllo");
  EXPECT_EQ(kNotFoundAnswer, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

}  // namespace
}  // namespace VirelantDesktop::authlb
