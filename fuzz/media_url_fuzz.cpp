// The media URL gate (ValidateMediaUrl):
//  - an accepted URL is 1..2048 bytes, starts with "https://" in any case and
//    has no "#"; its path starts with "/", has no "//", no encoded dot,
//    slash, backslash or NUL, no "." or ".." segment, and is one of the four
//    image paths or lies strictly below "/api/storage/";
//  - the path is the URL's own text between the authority and the query;
//  - a refusal is exactly "invalid_request" or "host_not_allowed";
//  - an accepted URL stays accepted with the same path when its scheme and
//    host change case, and is refused with a fragment added.
// Random bytes rarely name the service host, so each input is also tried
// as the path and query of a URL on the host (with ":443" when the first
// byte is odd); the seeds in fuzz/corpus/media_url start the raw form off.
// The counts of accepted URLs are printed at exit: both forms must reach
// the accepting side.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "modules/media/media_request.h"
#include "talvek/fixed_values.h"

using VirelantDesktop::media::kMaxUrlBytes;
using VirelantDesktop::media::UrlCheck;
using VirelantDesktop::media::ValidateMediaUrl;

namespace {

constexpr std::string_view kImagePaths[] = {
    "/api/dm/messages/image",
    "/api/dm/threads/image",
    "/api/workspace/directory/avatar",
    "/api/account/avatar",
};
constexpr std::string_view kStoragePrefix = "/api/storage/";

struct Counts {
  unsigned long long raw = 0, rawAccepted = 0, built = 0, builtAccepted = 0;
  ~Counts() {
    std::fprintf(stderr, "media_url_fuzz: raw inputs %llu accepted %llu; on-host inputs %llu accepted %llu\n", raw,
                 rawAccepted, built, builtAccepted);
  }
} g_counts;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool ContainsNoCase(std::string_view text, std::string_view needle) {
  for (size_t at = 0; at + needle.size() <= text.size(); ++at) {
    size_t i = 0;
    while (i < needle.size() && Lower(text[at + i]) == needle[i]) ++i;
    if (i == needle.size()) return true;
  }
  return false;
}

bool HasDotSegment(std::string_view path) {
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return true;
    start = end + 1;
  }
  return false;
}

// Checks one call; true when the URL was accepted.
bool Check(std::string_view url) {
  const UrlCheck result = ValidateMediaUrl(url);
  if (!result.ok()) {
    if (std::strcmp(result.error, "invalid_request") != 0 && std::strcmp(result.error, "host_not_allowed") != 0) {
      __builtin_trap();
    }
    if (!result.path.empty()) __builtin_trap();
    return false;
  }
  if (url.empty() || url.size() > kMaxUrlBytes) __builtin_trap();
  if (url.size() < 8 || !ContainsNoCase(url.substr(0, 8), "https://")) __builtin_trap();
  if (url.find('#') != std::string_view::npos) __builtin_trap();

  const std::string& path = result.path;
  if (path.empty() || path[0] != '/') __builtin_trap();
  if (path.find("//") != std::string::npos) __builtin_trap();
  for (std::string_view encoded : {"%2e", "%2f", "%5c", "%00"}) {
    if (ContainsNoCase(path, encoded)) __builtin_trap();
  }
  if (HasDotSegment(path)) __builtin_trap();
  bool fixedPath = false;
  for (std::string_view image : kImagePaths) fixedPath = fixedPath || path == image;
  if (!fixedPath && (path.compare(0, kStoragePrefix.size(), kStoragePrefix) != 0 || path.size() <= 13)) {
    __builtin_trap();
  }

  // The path is the text after the authority, up to the query.
  const size_t pathStart = url.find('/', 8);
  if (pathStart == std::string_view::npos) __builtin_trap();
  const size_t queryStart = url.find('?', pathStart);
  if (url.substr(pathStart, (queryStart == std::string_view::npos ? url.size() : queryStart) - pathStart) != path) {
    __builtin_trap();
  }
  if (url.substr(8, pathStart - 8).find('?') != std::string_view::npos) __builtin_trap();

  // Scheme and host compare without case; a fragment is never allowed.
  std::string shouted(url);
  for (size_t i = 0; i < pathStart; ++i) shouted[i] = Upper(shouted[i]);
  const UrlCheck again = ValidateMediaUrl(shouted);
  if (!again.ok() || again.path != path) __builtin_trap();
  if (ValidateMediaUrl(std::string(url) + "#x").ok()) __builtin_trap();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ++g_counts.raw;
  if (Check(input)) ++g_counts.rawAccepted;

  if (size == 0) return 0;
  std::string url = "https://";
  url += VirelantDesktop::fixed::kServiceHost;
  if ((data[0] & 1) != 0) url += ":443";
  url += input.substr(1);
  ++g_counts.built;
  if (Check(url)) ++g_counts.builtAccepted;
  return 0;
}
