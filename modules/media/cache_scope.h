// Where a media request lives in the cache, free of I/O: the scope folders
// (uid/ws/thread), the identity of a download and the cached file's base name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/js_value.h"

namespace VirelantDesktop::media {

inline constexpr size_t kScopeSegmentMax = 64;

// One scope segment as a folder name: 0-9, A-Z, a-z, "_" and "-" pass, every
// other byte (each byte of a multi-byte character too) becomes "_"; at most
// 64 characters.
std::string SanitizeScopeSegment(std::string_view value);

struct CacheScope {
  std::string uid;     // never empty; never one of the root's reserved names
  std::string ws;      // "_person" when none was given
  std::string thread;  // "_none" when none was given
};

// The scope of a request's "scope" value: nullopt when it is not an object
// or its uid is empty once sanitised. Missing or non-string fields count as
// empty. A uid equal to a reserved entry of the cache root ("tmp",
// "pending-wipe", "up") gets the prefix "u_".
std::optional<CacheScope> ParseCacheScope(const JSValue& scope);

// uid|ws|thread
std::string ScopeKey(const CacheScope& scope);
// uid|ws|thread|m (memory only) or d (disk)|url: the identity of a download.
std::string DedupKey(const CacheScope& scope, bool memoryOnly, std::string_view url);
// SHA-256 of ws + "|" + url as 64 lower-case hex digits; "" when hashing
// fails. The same URL in two threads of one workspace shares the base name.
std::string CacheHash(std::string_view ws, std::string_view url);

}  // namespace VirelantDesktop::media
