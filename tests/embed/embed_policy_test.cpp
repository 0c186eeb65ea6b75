#include "embed/embed_policy.h"

#include <gtest/gtest.h>

#include "embed/embed_view_logic.h"
#include "talvek/fixed_values.h"

namespace VirelantDesktop::Embed {
namespace {

TalvekEmbedProps Video(std::string id, bool autoplay = false) {
  TalvekEmbedProps props;
  props.vid = std::move(id);
  props.autoplay = autoplay;
  return props;
}

TalvekEmbedProps Social(std::string id, std::string igPath = "p") {
  TalvekEmbedProps props;
  props.kind = "instagram";
  props.vid = std::move(id);
  props.igPath = std::move(igPath);
  return props;
}

const std::string kVideo = fixed::kVideoEmbedHost;
const std::string kSocial = fixed::kSocialHost;
const std::string kOrigin = std::string("https://") + fixed::kEmbedHost;

TEST(EmbedProps, ReadingAndIds) {
  const TalvekEmbedProps read = ReadEmbedProps({{"kind", "instagram"}, {"vid", "Ab_1-"}, {"autoplay", "yes"}});
  EXPECT_TRUE(read.IsSocial());
  EXPECT_FALSE(read.IsReel());
  EXPECT_FALSE(read.autoplay) << "a mistyped prop keeps its default";
  EXPECT_EQ(ReadEmbedProps(nullptr).kind, "youtube");

  EXPECT_TRUE(IsValidContentId(Video("dQw4w9WgX-_")));
  EXPECT_FALSE(IsValidContentId(Video("dQw4w9WgXc")));
  EXPECT_FALSE(IsValidContentId(Video("dQw4w9WgXcQQ")));
  EXPECT_FALSE(IsValidContentId(Video("dQw4w9.gXcQ")));
  EXPECT_FALSE(IsValidContentId(Social("abcd")));
  EXPECT_TRUE(IsValidContentId(Social("abcde")));
  EXPECT_TRUE(IsValidContentId(Social(std::string(40, 'x'))));
  EXPECT_FALSE(IsValidContentId(Social(std::string(41, 'x'))));
  EXPECT_FALSE(IsValidContentId(Social("abc/de")));
}

TEST(EmbedPage, UrlsPageAndPolicy) {
  const std::string videoUrl = "https://" + kVideo + "/embed/dQw4w9WgXcQ?autoplay=0&mute=1&playsinline=1&controls=1"
                               "&rel=0&origin=https%3A%2F%2F" + std::string(fixed::kEmbedHost);
  EXPECT_EQ(EmbedUrl(Video("dQw4w9WgXcQ")), videoUrl);
  EXPECT_NE(EmbedUrl(Video("dQw4w9WgXcQ", true)).find("?autoplay=1&"), std::string::npos);
  EXPECT_EQ(EmbedUrl(Social("Cabcdef", "reel")), "https://" + kSocial + "/reel/Cabcdef/embed/");
  EXPECT_EQ(EmbedUrl(Social("Cabcdef", "tv")), "https://" + kSocial + "/p/Cabcdef/embed/");
  EXPECT_EQ(EmbedPage(Video("dQw4w9WgXcQ")),
            "<!doctype html><meta charset=utf-8><meta name=viewport content=\"width=device-width\"><style>html,body"
            "{margin:0;height:100%;overflow:hidden;background:#000}iframe{display:block;border:0;width:100%;"
            "height:100%}</style><iframe src=\"" + videoUrl + "\" referrerpolicy=\"strict-origin-when-cross-origin\""
            " allow=\"autoplay; encrypted-media; picture-in-picture; fullscreen\" allowfullscreen></iframe>");
  EXPECT_EQ(ContentSecurityPolicy(),
            "default-src 'none'; frame-src https://" + kVideo + " https://" + kSocial + "; style-src 'unsafe-inline'");
  // From memory the policy travels in the document, ahead of what it governs.
  const std::string withPolicy = EmbedPageWithPolicy(Video("dQw4w9WgXcQ"));
  EXPECT_EQ(withPolicy.find("<!doctype html><meta charset=utf-8><meta http-equiv=\"Content-Security-Policy\" content=\"" +
                            ContentSecurityPolicy() + "\"><meta name=referrer content=strict-origin-when-cross-origin>"),
            0u);
  EXPECT_LT(withPolicy.find("Content-Security-Policy"), withPolicy.find("<style>"));
  EXPECT_NE(withPolicy.find("<iframe src=\"" + videoUrl + "\""), std::string::npos);
}

TEST(EmbedPage, OnlyTheExactPagePathIsServed) {
  const ServedResponse page = ServeEmbedRequest(kOrigin + "/w", Video("dQw4w9WgXcQ"));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.headers, "Content-Type: text/html; charset=utf-8\r\nContent-Security-Policy: " +
                              ContentSecurityPolicy() +
                              "\r\nReferrer-Policy: strict-origin-when-cross-origin\r\nCache-Control: no-store");
  EXPECT_EQ(page.body, EmbedPage(Video("dQw4w9WgXcQ")));
  for (const std::string& url : {kOrigin + "/w/", kOrigin + "/x", kOrigin + "/", std::string("https://elsewhere.example/w")}) {
    const ServedResponse missing = ServeEmbedRequest(url, Video("dQw4w9WgXcQ"));
    EXPECT_EQ(missing.status, 404) << url;
    EXPECT_EQ(missing.headers, "Content-Type: text/plain\r\nCache-Control: no-store");
    EXPECT_TRUE(missing.body.empty());
  }
}

TEST(StrictUrl, Parse) {
  const auto ok = ParseStrictHttpsUrl("HTTPS://WWW.Example.com:443/a/b?q#f");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->host, "www.example.com");
  EXPECT_EQ(ok->path, "/a/b");
  EXPECT_EQ(ParseStrictHttpsUrl("https://example.com?x")->path, "/");
  EXPECT_EQ(ParseStrictHttpsUrl("https://example.com")->path, "/");
  for (const char* bad : {"http://example.com/", "https://user@example.com/", "https://example.com:8443/",
                          "https://example.com:/", "https://.example.com/", "https://example.com./",
                          "https://exa..mple.com/", "https:///x", "https://exa_mple.com/", "https://example.com/a b",
                          "https://example.com/a|b", "https://example.com/\x7F", "https://ex\xC3\xA9.com/"}) {
    EXPECT_FALSE(ParseStrictHttpsUrl(bad)) << bad;
  }
  EXPECT_TRUE(ParseStrictHttpsUrl("https://a.b/" + std::string(2039 - 12, 'x')));
  EXPECT_FALSE(ParseStrictHttpsUrl("https://a.b/" + std::string(2040 - 12, 'x')));
}

TEST(BillingPaths, BlockedInAnySpelling) {
  for (const char* blocked : {"/checkout", "/en/pricing", "/en-us/billing/", "/PLANS", "/a/../upgrade",
                              "/%63heckout", "/%2563heckout", "/x/%2F..%2Fpay", "/a\\payment-method", "/%zz",
                              "/%c0%af", "/%ed%a0%80", "/%", "/%2"}) {
    EXPECT_TRUE(IsBlockedPath(blocked)) << blocked;
  }
  for (const char* allowed : {"/checkouts", "/watch", "/", "/en", "/en-us", "/embed/x", "/%41bc", "/pay-day"}) {
    EXPECT_FALSE(IsBlockedPath(allowed)) << allowed;
  }
  EXPECT_TRUE(IsBillingPath("/xx/subscribe"));
  EXPECT_FALSE(IsBillingPath("/english/x")) << "not a locale prefix";
}

TEST(BillingPaths, APathStillEncodedAfterFourRoundsIsBlocked) {
  std::string encoded = "/checkout";
  for (int level = 0; level < 6; ++level) {
    SCOPED_TRACE(level);
    EXPECT_TRUE(IsBlockedPath(encoded));
    // One more round of encoding: every "%" and the "c" of checkout.
    std::string next;
    for (char c : encoded) next += c == '%' ? "%25" : (c == 'c' ? "%63" : std::string(1, c));
    encoded = next;
  }
  EXPECT_TRUE(IsBlockedPath("/%2525252525252541")) << "eight decodes to plain text";
}

TEST(Navigation, TopLevelFrameAndNewWindow) {
  bool visited = false;
  EXPECT_EQ(DecideTopLevelNavigation(kOrigin + "/w", false, visited), NavigationDecision::Allow);
  EXPECT_TRUE(visited);
  EXPECT_EQ(DecideTopLevelNavigation(kOrigin + "/w", false, visited), NavigationDecision::Block) << "only once";
  EXPECT_EQ(DecideTopLevelNavigation("about:blank", false, visited), NavigationDecision::Allow);
  const std::string watch = "https://www.youtube.com/watch?v=dQw4w9WgXcQ";
  EXPECT_EQ(DecideTopLevelNavigation(watch, true, visited), NavigationDecision::External);
  EXPECT_EQ(DecideTopLevelNavigation(watch, false, visited), NavigationDecision::Block);
  EXPECT_EQ(DecideTopLevelNavigation("https://www.youtube.com/premium/checkout", true, visited),
            NavigationDecision::Block);
  EXPECT_EQ(DecideTopLevelNavigation("https://evil.example/", true, visited), NavigationDecision::Block);

  EXPECT_FALSE(IsEmbedOriginUrl(kOrigin + ".evil.example/w"));
  EXPECT_TRUE(IsEmbedOriginUrl(kOrigin));
  EXPECT_EQ(DecideFrameNavigation("about:srcdoc"), NavigationDecision::Allow);
  EXPECT_EQ(DecideFrameNavigation("https://anything.example/x"), NavigationDecision::Allow);
  EXPECT_EQ(DecideFrameNavigation("http://anything.example/x"), NavigationDecision::Block);
  EXPECT_EQ(DecideNewWindow("https://youtu.be/x", true), NavigationDecision::External);
  EXPECT_EQ(DecideNewWindow("https://youtu.be/x", false), NavigationDecision::Block);
}

TEST(Navigation, EveryPermissionIsDeniedAndEveryDownloadCancelledAndHandled) {
  // Whoever asks: our own page, a provider's frame, a stranger; with or
  // without a click; for a known permission, an odd one or none.
  const std::string askers[] = {kOrigin + "/w", "https://" + kVideo + "/embed/dQw4w9WgXcQ",
                                "https://www.youtube.com/watch?v=dQw4w9WgXcQ", "https://evil.example/", "about:blank",
                                ""};
  for (const std::string& url : askers) {
    for (const char* kind : {"camera", "microphone", "geolocation", "notifications", "clipboard-read", "midi-sysex",
                             "pointer-lock", "", "unknown-kind"}) {
      for (const bool click : {false, true}) {
        SCOPED_TRACE(url + " " + kind + (click ? " clicked" : ""));
        EXPECT_EQ(DecidePermission({.kind = kind, .url = url, .userInitiated = click}), PermissionDecision::Deny);
      }
    }
    for (const bool click : {false, true}) {
      const DownloadDecision download = DecideDownload(url, click);
      EXPECT_TRUE(download.cancel) << url;
      EXPECT_TRUE(download.handled) << url << ": no download shows in the web view";
    }
  }
}

TEST(EmbedView, StateEventsWaitForTheEmitterAndPropsLoadOnce) {
  EmbedStateChannel channel;
  std::vector<std::string> seen;
  channel.Send({"failed", "bad-id"});
  channel.Send({"fallback", "env-failed"});
  channel.SetEmitter([&](const EmbedStateEvent& e) { seen.push_back(e.state + ":" + e.reason); });
  channel.Send({"ready", ""});
  EXPECT_EQ(seen, (std::vector<std::string>{"failed:bad-id", "fallback:env-failed", "ready:"}));

  EmbedPropsGate gate;
  EXPECT_EQ(gate.OnProps(Video("")), EmbedPropsGate::Action::None);
  EXPECT_EQ(gate.OnProps(Video("short")), EmbedPropsGate::Action::BadId);
  EXPECT_EQ(gate.OnProps(Video("dQw4w9WgXcQ")), EmbedPropsGate::Action::Load);
  EXPECT_EQ(gate.OnProps(Video("aaaaaaaaaaa")), EmbedPropsGate::Action::None) << "ignored once loading started";
  EXPECT_EQ(gate.Loaded().vid, "dQw4w9WgXcQ");
}

}  // namespace
}  // namespace VirelantDesktop::Embed
