// The request headers and the whole "fetchToCache" request.
//
// Input: the first byte, then the rest.
//  bit 0 of the first byte: the URL path the headers are checked for (set:
//    "/api/dm/messages/image", clear: "/api/storage/x");
//  bit 3: the rest is "name:value" lines, an object as a header block gives
//    it (random bytes seldom make valid JSON); a line without ":" is its
//    first byte as the name and the rest as the value, and a value that is
//    JSON text stands for that value (true, 30000, {...}). Clear: the rest
//    is JSON, put between "{" and "}" first when bit 1 is set, so members
//    can be mutated on their own;
//  bit 2: down to depth 4, every one-byte key becomes a name from kAliases
//    (the header names in several cases, an unknown header, the request's
//    own members) and every one-byte string a value from ValueAliases
//    (tokens and lengths at their edges, booleans, time-outs, kinds), which
//    random bytes would take long to spell.
//
// ParseHeaders, for an object:
//  - every accepted pair is sent as "Authorization", "X-Workspace-Id",
//    "X-Chat-Unlock", "Cache-Control" or "Accept", once at most;
//  - values are printable ASCII of at most 8192 bytes, unchanged, one pair
//    per member, in the object's order;
//  - Authorization starts with "Bearer " and has at least 8 bytes;
//  - X-Chat-Unlock only for a path under "/api/dm/".
// ParseFetchRequest, on the value as it is, on an object with the required
// members it lacks filled in (a URL on the service host for the picked
// path, kind "image", a requestId, a scope), and on a complete request with
// the object as its headers:
//  - an accepted record has a 64-lower-hex hash equal to CacheHash(ws, url),
//    a URL that ValidateMediaUrl accepts with the record's path, a time-out
//    within 1,000..300,000 ms, memoryOnly only for "image" and "avatar",
//    the kind's maxBytes and EffectiveMaxBytes at most maxBytes;
//  - a refusal carries one of the three codes.
// The counts of accepted headers (by name) and requests are printed at exit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/js_value.h"
#include "modules/media/cache_scope.h"
#include "modules/media/media_request.h"
#include "talvek/fixed_values.h"

using VirelantDesktop::JSValue;
namespace media = VirelantDesktop::media;

namespace {

constexpr std::string_view kSentNames[] = {"Authorization", "X-Workspace-Id", "X-Chat-Unlock", "Cache-Control",
                                           "Accept"};

struct Counts {
  unsigned long long objects = 0, headersAccepted = 0, requests = 0, requestsAccepted = 0;
  unsigned long long pairs[std::size(kSentNames)] = {};  // accepted pairs by name
  unsigned long long withHeaders = 0, memoryOnly = 0;     // accepted requests
  ~Counts() {
    std::fprintf(stderr,
                 "media_headers_fuzz: objects %llu headers accepted %llu; requests %llu accepted %llu "
                 "(with headers %llu, memory-only %llu); accepted pairs:",
                 objects, headersAccepted, requests, requestsAccepted, withHeaders, memoryOnly);
    for (size_t i = 0; i < std::size(kSentNames); ++i) {
      std::fprintf(stderr, " %s %llu", std::string(kSentNames[i]).c_str(), pairs[i]);
    }
    std::fprintf(stderr, "\n");
  }
} g_counts;

constexpr const char* kAliases[] = {
    "authorization", "Authorization", "x-workspace-id", "X-Workspace-Id", "x-chat-unlock", "X-CHAT-UNLOCK",
    "cache-control", "accept",        "ACCEPT",         "cookie",         "url",           "kind",
    "requestId",     "scope",         "headers",        "memoryOnly",     "timeoutMs",     "uid",
    "ws",            "thread",
};

const std::vector<JSValue>& ValueAliases() {
  static const std::vector<JSValue> values = [] {
    const std::string token = "eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiI0MiJ9.Q7";
    return std::vector<JSValue>{
        "Bearer " + token,
        "Bearer x",
        "Bearer ",
        "bearer " + token,
        "Bearer a b",
        "Bearer " + std::string(media::kMaxHeaderValueBytes - 7, 'A'),
        "Bearer " + std::string(media::kMaxHeaderValueBytes - 6, 'A'),
        std::string(media::kMaxHeaderValueBytes, 'a'),
        std::string(64, 'w'),
        std::string(65, 'w'),
        "w_5f1c2d9e",
        "no-cache",
        true,
        false,
        30000,
        999.5,
        1000.75,
        300000.5,
        1e300,
        -5,
        std::numeric_limits<double>::quiet_NaN(),
        "image",
        "avatar",
        "video",
        "audio",
        "file",
        JSValue{{"uid", "tmp"}, {"ws", "w"}, {"thread", "t"}},
    };
  }();
  return values;
}

JSValue WithAliases(const JSValue& value, int depth) {
  if (depth > 4) return value;
  if (value.is_string() && value.get_ref<const std::string&>().size() == 1) {
    const auto& values = ValueAliases();
    return values[static_cast<unsigned char>(value.get_ref<const std::string&>()[0]) % values.size()];
  }
  if (value.is_array()) {
    JSValue out = JSValue::array();
    for (const JSValue& element : value) out.push_back(WithAliases(element, depth + 1));
    return out;
  }
  if (!value.is_object()) return value;
  JSValue out = JSValue::object();
  for (const auto& [key, member] : value.items()) {
    const std::string name =
        key.size() == 1 ? kAliases[static_cast<unsigned char>(key[0]) % std::size(kAliases)] : key;
    out[name] = WithAliases(member, depth + 1);
  }
  return out;
}

bool IsLowerHex64(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

void CheckHeaders(const JSValue& headers, std::string_view path) {
  const auto pairs = media::ParseHeaders(headers, path);
  if (!pairs) return;
  ++g_counts.headersAccepted;
  if (pairs->size() != headers.size()) __builtin_trap();
  std::set<std::string> names;
  auto member = headers.begin();
  for (const media::HeaderPair& pair : *pairs) {
    bool known = false;
    for (size_t i = 0; i < std::size(kSentNames); ++i) {
      if (pair.name == kSentNames[i]) {
        known = true;
        ++g_counts.pairs[i];
      }
    }
    if (!known) __builtin_trap();
    if (!names.insert(pair.name).second) __builtin_trap();
    if (pair.value.size() > media::kMaxHeaderValueBytes) __builtin_trap();
    for (char c : pair.value) {
      if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) __builtin_trap();
    }
    if (!member->is_string() || member->get_ref<const std::string&>() != pair.value) __builtin_trap();
    ++member;
    if (pair.name == "Authorization" && (pair.value.size() < 8 || pair.value.compare(0, 7, "Bearer ") != 0)) {
      __builtin_trap();
    }
    if (pair.name == "X-Chat-Unlock" && path.substr(0, 8) != "/api/dm/") __builtin_trap();
  }
}

void CheckRequest(const JSValue& value) {
  ++g_counts.requests;
  const media::FetchRequestCheck checked = media::ParseFetchRequest(value);
  if (!checked.request) {
    if (checked.code != media::kInvalidRequest && checked.code != media::kHostNotAllowed &&
        checked.code != media::kCacheUnavailable) {
      __builtin_trap();
    }
    return;
  }
  ++g_counts.requestsAccepted;
  const media::FetchRequest& record = *checked.request;
  if (!record.headers.empty()) ++g_counts.withHeaders;
  if (record.memoryOnly) ++g_counts.memoryOnly;
  if (!checked.code.empty()) __builtin_trap();
  if (!IsLowerHex64(record.hash) || record.hash != media::CacheHash(record.ws, record.url)) __builtin_trap();
  const media::UrlCheck url = media::ValidateMediaUrl(record.url);
  if (!url.ok() || url.path != record.path) __builtin_trap();
  if (record.timeoutMs < media::kMinTimeoutMs || record.timeoutMs > media::kMaxTimeoutMs) __builtin_trap();
  if (record.memoryOnly && record.kind != "image" && record.kind != "avatar") __builtin_trap();
  const media::KindRule* rule = media::FindKind(record.kind);
  if (rule == nullptr || record.maxBytes != rule->maxBytes) __builtin_trap();
  if (record.EffectiveMaxBytes() > record.maxBytes) __builtin_trap();
  if (record.uid.empty() || record.ws.empty() || record.thread.empty() || record.requestId.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view path = (data[0] & 1) != 0 ? "/api/dm/messages/image" : "/api/storage/x";
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  JSValue value;
  if ((data[0] & 8) != 0) {
    value = JSValue::object();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      const size_t colon = line.find(':');
      const size_t split = colon != std::string::npos ? colon : std::min<size_t>(line.size(), 1);
      const std::string name = line.substr(0, split);
      const std::string member = line.substr(colon != std::string::npos ? split + 1 : split);
      JSValue parsed = JSValue::parse(member, nullptr, /*allow_exceptions=*/false);
      value[name] = parsed.is_discarded() ? JSValue(member) : std::move(parsed);
      start = end + 1;
    }
  } else {
    if ((data[0] & 2) != 0) text = "{" + text + "}";
    value = JSValue::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return 0;
  }
  if ((data[0] & 4) != 0) value = WithAliases(value, 0);

  CheckRequest(value);
  if (!value.is_object()) return 0;
  ++g_counts.objects;
  CheckHeaders(value, path);

  JSValue completed = value;
  const auto fill = [&completed](const char* name, JSValue member) {
    if (!completed.contains(name)) completed[name] = std::move(member);
  };
  fill("url", "https://" + std::string(VirelantDesktop::fixed::kServiceHost) + std::string(path) + "?v=1");
  fill("kind", "image");
  fill("requestId", "r1");
  fill("scope", JSValue{{"uid", "u1"}});
  CheckRequest(completed);
  // The object as the headers of a complete request.
  CheckRequest(JSValue{{"url", completed["url"]},
                       {"kind", completed["kind"]},
                       {"requestId", "r1"},
                       {"scope", {{"uid", "u1"}}},
                       {"headers", value}});
  return 0;
}
