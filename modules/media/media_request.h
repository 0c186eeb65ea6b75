// The gate in front of every media download, free of I/O: the URL rule, the
// request headers, the size limits and time-outs of the five kinds, and the
// whole "fetchToCache" request. A request that fails any rule is refused with
// its code before anything touches the network or the disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/js_value.h"

namespace VirelantDesktop::media {

inline constexpr const char* kInvalidRequest = "invalid_request";
inline constexpr const char* kHostNotAllowed = "host_not_allowed";
inline constexpr const char* kCacheUnavailable = "cache_unavailable";

inline constexpr size_t kMaxUrlBytes = 2048;
inline constexpr size_t kMaxHeaderValueBytes = 8192;
inline constexpr uint32_t kMinTimeoutMs = 1000;
inline constexpr uint32_t kMaxTimeoutMs = 300000;

struct KindRule {
  const char* name;
  uint64_t maxBytes;
  uint64_t memoryOnlyMaxBytes;  // 0: memory-only is not allowed
  uint32_t defaultTimeoutMs;
};

// The rule of `kind` ("image", "avatar", "video", "audio", "file"), or null.
const KindRule* FindKind(std::string_view kind) noexcept;

struct UrlCheck {
  std::string path;   // the URL's path without its query, when accepted
  const char* error;  // null when accepted, else "invalid_request" or "host_not_allowed"
  bool ok() const noexcept { return error == nullptr; }
};

// Accepts only https URLs on the service host (optionally ":443") whose
// path is one of the fixed image paths or lies under "/api/storage/".
UrlCheck ValidateMediaUrl(std::string_view url);

struct HeaderPair {
  std::string name;  // as sent: "Authorization", "X-Workspace-Id", ...
  std::string value;
};

// The request headers of a "headers" object, in the object's key order;
// nullopt when any name or value breaks the rules ("invalid_request").
// `path` is the validated URL path ("x-chat-unlock" only under "/api/dm/").
std::optional<std::vector<HeaderPair>> ParseHeaders(const JSValue& headers, std::string_view path);

// The time-out of a request: the kind's default, or "timeoutMs" when it is a
// number, clamped to 1,000 ... 300,000 ms and cut to whole milliseconds.
uint32_t RequestTimeoutMs(const KindRule& kind, const JSValue* timeoutMs) noexcept;

// A request that passed the gate.
struct FetchRequest {
  std::string dedupKey;
  std::string url;   // unchanged
  std::string path;  // without the query
  std::string kind;
  std::string requestId;
  std::string hash;  // CacheHash: the cached file's base name
  std::string uid;
  std::string ws;
  std::string thread;
  std::vector<HeaderPair> headers;
  uint64_t maxBytes = 0;  // the kind's limit for a cached file
  bool memoryOnly = false;
  uint32_t timeoutMs = 0;

  // The limit that applies to this request (lower for memory-only).
  uint64_t EffectiveMaxBytes() const noexcept;
};

struct FetchRequestCheck {
  std::optional<FetchRequest> request;
  std::string code;  // the rejection code (also its message) when refused
};

// Checks a "fetchToCache" request object, in the fixed order of its rules.
FetchRequestCheck ParseFetchRequest(const JSValue& request);

}  // namespace VirelantDesktop::media
