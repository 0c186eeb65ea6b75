// The embed view's pure rules: its props, the content id, the provider's
// embed URL, the page that frames it on the private origin with its
// Content-Security-Policy, the strict URL parse, the billing block list, the
// navigation decisions that keep the view on that page, and the answers to
// the page's permission and download requests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bridge/js_value.h"

namespace VirelantDesktop::Embed {

struct TalvekEmbedProps {
  std::string kind = "youtube";  // "instagram": the social provider; anything else: the video provider
  std::string vid;               // the content id
  std::string igPath = "p";      // social: "reel" for a reel, anything else a post
  bool autoplay = false;         // video: start playing

  bool IsSocial() const noexcept { return kind == "instagram"; }
  bool IsReel() const noexcept { return igPath == "reel"; }
};

// The props of a JavaScript props object; missing or mistyped props keep
// their defaults.
TalvekEmbedProps ReadEmbedProps(const JSValue& props);

// A-Z, a-z, 0-9, "_", "-"; exactly 11 characters for the video provider, 5
// to 40 for the social provider.
bool IsValidContentId(const TalvekEmbedProps& props);

// "https://" + the embed host.
std::string EmbedOrigin();

std::string EmbedUrl(const TalvekEmbedProps& props);
std::string EmbedPage(const TalvekEmbedProps& props);
std::string ContentSecurityPolicy();
// The page as a web view shows it from memory, where no response headers
// travel: the Content-Security-Policy and the referrer policy as meta
// elements at the top of the document, before anything they govern.
std::string EmbedPageWithPolicy(const TalvekEmbedProps& props);

// The answer to a request under the embed origin: the page for exactly
// https://<embed host>/w, else an empty 404.
struct ServedResponse {
  int status = 404;
  const char* reason = "Not Found";
  std::string headers;  // "Name: value" lines joined by "\r\n"
  std::string body;
};
ServedResponse ServeEmbedRequest(std::string_view url, const TalvekEmbedProps& props);

struct HttpsUrl {
  std::string host;  // lower-cased
  std::string path;  // "/" when empty
};
// Only https URLs of at most 2039 characters, printable ASCII without the
// characters URLs must escape, no user information, no port but ":443", and
// a plain host name.
std::optional<HttpsUrl> ParseStrictHttpsUrl(std::string_view url);

bool IsProviderUrl(std::string_view url);
bool IsEmbedOriginUrl(std::string_view url);
bool IsFrameUrl(std::string_view url);
// A path whose segments (after an optional locale prefix like /en or /en-us)
// include a billing word.
bool IsBillingPath(std::string_view path);
// A billing path in any spelling: malformed or non-UTF-8 escapes, dot
// segments and up to four rounds of percent-encoding; a path still encoded
// after four rounds is blocked too.
bool IsBlockedPath(std::string_view path);

enum class NavigationDecision { Allow, Block, External };

// A navigation in the main frame. `originVisited` is the view's flag: it is
// set here when the URL is the embed origin, so the origin loads once.
NavigationDecision DecideTopLevelNavigation(std::string_view url, bool userInitiated, bool& originVisited);
// A navigation in a frame of the page.
NavigationDecision DecideFrameNavigation(std::string_view url);
// A request for a new window: never opened; External when the user asked
// for a provider page (the app opens it outside), else Block.
NavigationDecision DecideNewWindow(std::string_view url, bool userInitiated);

// A request by the page or any frame in it for a permission: camera,
// microphone, location, notifications, clipboard, pointer lock, ... The view
// grants none, whatever is asked, whoever asks and however it was asked, and
// keeps no answer: a request made again is denied again.
enum class PermissionDecision { Grant, Deny };
struct PermissionRequest {
  std::string_view kind;  // the web view's name for the permission; any value
  std::string_view url;   // the document asking
  bool userInitiated = false;
};
PermissionDecision DecidePermission(const PermissionRequest& request) noexcept;

// A download started by the page, a frame or a navigation: it is cancelled
// before anything is written, and marked handled so that the web view shows
// no download of its own.
struct DownloadDecision {
  bool cancel = true;
  bool handled = true;
  bool operator==(const DownloadDecision&) const = default;
};
DownloadDecision DecideDownload(std::string_view url, bool userInitiated) noexcept;

}  // namespace VirelantDesktop::Embed
