#include "embed/embed_policy.h"

#include <array>
#include <cstdint>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/url_text.h"
#include "talvek/fixed_values.h"

namespace VirelantDesktop::Embed {
namespace {

constexpr size_t kMaxUrlLength = 2039;
constexpr int kDecodeRounds = 4;

constexpr std::array<std::string_view, 14> kBillingWords{
    "billing", "pricing", "plans",   "checkout", "subscribe", "subscription", "subscriptions",
    "pay",     "payment", "payments", "purchase", "upgrade",  "paywall",      "payment-method"};

std::string Lowered(std::string_view text) { return platform::LowerAscii(text); }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsIdChar(char c) { return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '-'; }

// Splits at "/" and "\", drops empty and "." segments, lets ".." remove the
// segment before it, and joins what is left: "/" + segments, or "/".
std::string NormalisePath(std::string_view path) {
  std::vector<std::string_view> kept;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (!segment.empty() && segment != ".") {
      kept.push_back(segment);
    }
    start = end + 1;
  }
  if (kept.empty()) return "/";
  std::string joined;
  for (std::string_view segment : kept) joined.append("/").append(segment);
  return joined;
}

bool IsProviderHost(std::string_view host) {
  for (const char* allowed : fixed::kProviderHosts) {
    if (host == allowed) return true;
  }
  return false;
}

}  // namespace

TalvekEmbedProps ReadEmbedProps(const JSValue& props) {
  TalvekEmbedProps result;
  if (!props.is_object()) return result;
  auto text = [&props](const char* name, std::string& into) {
    const auto it = props.find(name);
    if (it != props.end() && it->is_string()) into = it->get<std::string>();
  };
  text("kind", result.kind);
  text("vid", result.vid);
  text("igPath", result.igPath);
  const auto autoplay = props.find("autoplay");
  if (autoplay != props.end() && autoplay->is_boolean()) result.autoplay = autoplay->get<bool>();
  return result;
}

bool IsValidContentId(const TalvekEmbedProps& props) {
  const size_t length = props.vid.size();
  const bool lengthOk = props.IsSocial() ? (length >= 5 && length <= 40) : length == 11;
  if (!lengthOk) return false;
  for (char c : props.vid) {
    if (!IsIdChar(c)) return false;
  }
  return true;
}

std::string EmbedOrigin() { return std::string("https://") + fixed::kEmbedHost; }

std::string EmbedUrl(const TalvekEmbedProps& props) {
  if (props.IsSocial()) {
    return std::string("https://") + fixed::kSocialHost + "/" + (props.IsReel() ? "reel" : "p") + "/" + props.vid +
           "/embed/";
  }
  return std::string("https://") + fixed::kVideoEmbedHost + "/embed/" + props.vid +
         "?autoplay=" + (props.autoplay ? "1" : "0") +
         "&mute=1&playsinline=1&controls=1&rel=0&origin=https%3A%2F%2F" + fixed::kEmbedHost;
}

std::string EmbedPage(const TalvekEmbedProps& props) {
  return "<!doctype html><meta charset=utf-8><meta name=viewport content=\"width=device-width\"><style>html,body{"
         "margin:0;height:100%;overflow:hidden;background:#000}iframe{display:block;border:0;width:100%;height:100%}"
         "</style><iframe src=\"" +
         EmbedUrl(props) +
         "\" referrerpolicy=\"strict-origin-when-cross-origin\" allow=\"autoplay; encrypted-media; "
         "picture-in-picture; fullscreen\" allowfullscreen></iframe>";
}

std::string ContentSecurityPolicy() {
  return std::string("default-src 'none'; frame-src https://") + fixed::kVideoEmbedHost + " https://" +
         fixed::kSocialHost + "; style-src 'unsafe-inline'";
}

std::string EmbedPageWithPolicy(const TalvekEmbedProps& props) {
  const std::string page = EmbedPage(props);
  const std::string charset = "<meta charset=utf-8>";
  const size_t at = page.find(charset);
  const std::string policy = "<meta http-equiv=\"Content-Security-Policy\" content=\"" + ContentSecurityPolicy() +
                             "\"><meta name=referrer content=strict-origin-when-cross-origin>";
  if (at == std::string::npos) return policy + page;
  return page.substr(0, at + charset.size()) + policy + page.substr(at + charset.size());
}

ServedResponse ServeEmbedRequest(std::string_view url, const TalvekEmbedProps& props) {
  ServedResponse response;
  const auto parsed = ParseStrictHttpsUrl(url);
  if (parsed && parsed->host == fixed::kEmbedHost && parsed->path == "/w") {
    response.status = 200;
    response.reason = "OK";
    response.headers = "Content-Type: text/html; charset=utf-8\r\nContent-Security-Policy: " +
                       ContentSecurityPolicy() +
                       "\r\nReferrer-Policy: strict-origin-when-cross-origin\r\nCache-Control: no-store";
    response.body = EmbedPage(props);
    return response;
  }
  response.headers = "Content-Type: text/plain\r\nCache-Control: no-store";
  return response;
}

std::optional<HttpsUrl> ParseStrictHttpsUrl(std::string_view url) {
  if (url.size() > kMaxUrlLength || url.size() < 8 || Lowered(url.substr(0, 8)) != "https://") return std::nullopt;
  for (char c : url) {
    if (platform::IsUnsafeUrlByte(static_cast<unsigned char>(c))) return std::nullopt;
  }
  const size_t authorityEnd = std::min(url.find_first_of("/?#", 8), url.size());
  std::string_view host = url.substr(8, authorityEnd - 8);
  if (host.find('@') != std::string_view::npos) return std::nullopt;
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    if (host.substr(colon) != ":443") return std::nullopt;
    host = host.substr(0, colon);
  }
  if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos) {
    return std::nullopt;
  }
  for (char c : host) {
    if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return std::nullopt;
  }
  HttpsUrl result;
  result.host = Lowered(host);
  if (authorityEnd < url.size() && url[authorityEnd] == '/') {
    const size_t pathEnd = std::min(url.find_first_of("?#", authorityEnd), url.size());
    result.path = std::string(url.substr(authorityEnd, pathEnd - authorityEnd));
  } else {
    result.path = "/";
  }
  return result;
}

bool IsProviderUrl(std::string_view url) {
  const auto parsed = ParseStrictHttpsUrl(url);
  return parsed && !IsBlockedPath(parsed->path) && IsProviderHost(parsed->host);
}

bool IsEmbedOriginUrl(std::string_view url) {
  const std::string origin = EmbedOrigin();
  if (url.size() < origin.size() || Lowered(url.substr(0, origin.size())) != origin) return false;
  return url.size() == origin.size() || url[origin.size()] == '/' || url[origin.size()] == '?' ||
         url[origin.size()] == '#';
}

bool IsFrameUrl(std::string_view url) {
  return url == "about:blank" || url == "about:srcdoc" || ParseStrictHttpsUrl(url).has_value();
}

bool IsBillingPath(std::string_view path) {
  std::string lowered = Lowered(path);
  std::string_view rest = lowered;
  // A locale prefix: "/xx" or "/xx-yy", then the end or "/".
  if (rest.size() >= 3 && rest[0] == '/' && IsAsciiLetter(rest[1]) && IsAsciiLetter(rest[2])) {
    size_t prefix = 0;
    if (rest.size() == 3 || rest[3] == '/') {
      prefix = 3;
    } else if (rest[3] == '-' && rest.size() >= 6 && IsAsciiLetter(rest[4]) && IsAsciiLetter(rest[5]) &&
               (rest.size() == 6 || rest[6] == '/')) {
      prefix = 6;
    }
    rest.remove_prefix(prefix);
    if (rest.empty()) rest = "/";
  }
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view segment = rest.substr(start, end - start);
    for (std::string_view word : kBillingWords) {
      if (segment == word) return true;
    }
    start = end + 1;
  }
  return false;
}

bool IsBlockedPath(std::string_view path) {
  std::string current(path);
  if (current.find('%') != std::string::npos) {
    if (!platform::PercentEscapesWellFormed(current)) return true;
    current = platform::PercentDecode(current);
    if (!platform::IsWellFormedUtf8(current)) return true;
  }
  for (int round = 0; round < kDecodeRounds; ++round) {
    const std::string normalised = NormalisePath(current);
    if (IsBillingPath(normalised)) return true;
    std::string decoded = platform::PercentDecode(normalised);
    if (decoded == normalised) return false;
    current = std::move(decoded);
  }
  // Still encoded after every round: a path nobody spells this way by
  // accident, and one that could hide a billing page. Blocked.
  return true;
}

NavigationDecision DecideTopLevelNavigation(std::string_view url, bool userInitiated, bool& originVisited) {
  const bool isOrigin = IsEmbedOriginUrl(url);
  NavigationDecision decision = NavigationDecision::Block;
  if (url == "about:blank") {
    decision = NavigationDecision::Allow;
  } else if (!originVisited && isOrigin) {
    decision = NavigationDecision::Allow;
  } else if (userInitiated && IsProviderUrl(url)) {
    decision = NavigationDecision::External;
  }
  if (isOrigin) originVisited = true;
  return decision;
}

NavigationDecision DecideFrameNavigation(std::string_view url) {
  return IsFrameUrl(url) ? NavigationDecision::Allow : NavigationDecision::Block;
}

NavigationDecision DecideNewWindow(std::string_view url, bool userInitiated) {
  return userInitiated && IsProviderUrl(url) ? NavigationDecision::External : NavigationDecision::Block;
}

PermissionDecision DecidePermission(const PermissionRequest&) noexcept {
  // The page only frames a provider's player or post: nothing it shows needs
  // a device, the user's place or a way to reach them outside the view.
  return PermissionDecision::Deny;
}

DownloadDecision DecideDownload(std::string_view, bool) noexcept {
  // Not even a user's click downloads: a file fetched by a page the user
  // cannot see the address of is not the user's choice.
  return DownloadDecision{.cancel = true, .handled = true};
}

}  // namespace VirelantDesktop::Embed
