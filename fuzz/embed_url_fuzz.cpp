// The embed view's URL rules on arbitrary text: the strict https parse, the
// blocked-path check and the navigation decisions.
//  - an accepted URL is at most 2039 bytes, starts with "https://" in any
//    case, and its host is non-empty, lower-case, of letters, digits, "-"
//    and "." without a leading, trailing or doubled dot; its path starts
//    with "/" and holds no "?" or "#";
//  - a plain path (no dots, escapes or backslashes, so nothing to resolve)
//    that the billing check flags is always blocked, and so is the same path
//    with every byte percent-encoded once more;
//  - a provider URL is never one whose path is blocked;
//  - a top-level navigation is External only for a user's provider URL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "embed/embed_policy.h"

using namespace VirelantDesktop::Embed;

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "embed_url_fuzz: %s\n", what);
    __builtin_trap();
  }
}

std::string EncodeAll(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    if (c == '/') {
      out.push_back(c);
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 15]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  if (const auto parsed = ParseStrictHttpsUrl(input)) {
    Require(input.size() <= 2039, "accepted an over-long URL");
    Require(!parsed->host.empty() && parsed->host.front() != '.' && parsed->host.back() != '.', "bad host edges");
    Require(parsed->host.find("..") == std::string::npos, "doubled dot in host");
    for (char c : parsed->host) {
      Require((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.', "host character");
    }
    Require(!parsed->path.empty() && parsed->path.front() == '/', "path must start with /");
    Require(parsed->path.find_first_of("?#") == std::string::npos, "path holds query or fragment");
  }

  const bool plain = input.find_first_of(".%\\") == std::string_view::npos;
  if (plain && IsBillingPath(input)) {
    Require(IsBlockedPath(input), "a billing path was not blocked");
    if (input.size() < 512) Require(IsBlockedPath(EncodeAll(input)), "an encoded billing path was not blocked");
  }
  if (IsProviderUrl(input)) {
    const auto parsed = ParseStrictHttpsUrl(input);
    Require(parsed && !IsBlockedPath(parsed->path), "a provider URL with a blocked path");
  }
  bool visited = true;
  const NavigationDecision byScript = DecideTopLevelNavigation(input, false, visited);
  Require(byScript != NavigationDecision::External, "a script navigation went external");
  visited = true;
  if (DecideTopLevelNavigation(input, true, visited) == NavigationDecision::External) {
    Require(IsProviderUrl(input), "external without a provider URL");
  }
  return 0;
}
