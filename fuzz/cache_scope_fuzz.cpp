// The cache scope (the uid/ws/thread folders of a request).
//  SanitizeScopeSegment, on the raw input: at most 64 bytes, only
//  0-9 A-Z a-z "_" "-", as long as the input up to 64, and each byte kept
//  or replaced by "_".
//  ParseCacheScope, on an object built from the input: the first byte says
//  for each of uid, ws and thread whether it is present, and whether as a
//  string or as a number; the rest is split at the first two "|" bytes into
//  the three strings. An accepted scope has non-empty segments of allowed
//  bytes (at most 64, "u_" + a reserved name included), a uid that is never
//  "tmp", "up" or "pending-wipe", the documented defaults for an empty ws
//  or thread, and a ScopeKey with exactly two "|". It is accepted exactly
//  when uid is a non-empty string.
// The counts of accepted scopes are printed at exit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "bridge/js_value.h"
#include "modules/media/cache_scope.h"

using VirelantDesktop::JSValue;
namespace media = VirelantDesktop::media;

namespace {

struct Counts {
  unsigned long long scopes = 0, accepted = 0, reservedUid = 0;
  ~Counts() {
    std::fprintf(stderr, "cache_scope_fuzz: scopes %llu accepted %llu (reserved uid %llu)\n", scopes, accepted,
                 reservedUid);
  }
} g_counts;

bool IsSegmentByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-';
}

void CheckSegment(std::string_view input, const std::string& out) {
  if (out.size() > media::kScopeSegmentMax) __builtin_trap();
  if (out.size() != std::min(input.size(), media::kScopeSegmentMax)) __builtin_trap();
  for (size_t i = 0; i < out.size(); ++i) {
    if (!IsSegmentByte(out[i])) __builtin_trap();
    if (out[i] != input[i] && out[i] != '_') __builtin_trap();
    if (IsSegmentByte(input[i]) && out[i] != input[i]) __builtin_trap();
  }
}

bool IsValidSegment(const std::string& segment) {
  if (segment.empty() || segment.size() > media::kScopeSegmentMax) return false;
  for (char c : segment) {
    if (!IsSegmentByte(c)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckSegment(input, media::SanitizeScopeSegment(input));
  if (size == 0) return 0;

  // Two bits per field: 0 absent, 1 a number, 2 or 3 a string.
  const unsigned layout = data[0];
  std::string_view rest = input.substr(1);
  std::string_view parts[3];
  for (int i = 0; i < 3; ++i) {
    const size_t bar = i < 2 ? rest.find('|') : std::string_view::npos;
    parts[i] = rest.substr(0, bar);
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
  }
  const char* const names[3] = {"uid", "ws", "thread"};
  JSValue object = JSValue::object();
  for (int i = 0; i < 3; ++i) {
    const unsigned kind = (layout >> (2 * i)) & 3;
    if (kind == 1) object[names[i]] = static_cast<int64_t>(parts[i].size());
    if (kind >= 2) object[names[i]] = std::string(parts[i]);
  }

  ++g_counts.scopes;
  const auto scope = media::ParseCacheScope(object);
  const bool uidGiven = (layout & 3) >= 2 && !parts[0].empty();
  if (scope.has_value() != uidGiven) __builtin_trap();
  if (!scope) return 0;
  ++g_counts.accepted;

  if (!IsValidSegment(scope->uid) || !IsValidSegment(scope->ws) || !IsValidSegment(scope->thread)) __builtin_trap();
  if (scope->uid == "tmp" || scope->uid == "up" || scope->uid == "pending-wipe") __builtin_trap();
  const std::string uid = media::SanitizeScopeSegment(parts[0]);
  const bool reserved = uid == "tmp" || uid == "up" || uid == "pending-wipe";
  if (scope->uid != (reserved ? "u_" + uid : uid)) __builtin_trap();
  if (reserved) ++g_counts.reservedUid;
  for (int i = 1; i < 3; ++i) {
    const std::string& got = i == 1 ? scope->ws : scope->thread;
    const std::string given = ((layout >> (2 * i)) & 3) >= 2 ? media::SanitizeScopeSegment(parts[i]) : std::string();
    if (got != (given.empty() ? (i == 1 ? "_person" : "_none") : given)) __builtin_trap();
  }

  const std::string key = media::ScopeKey(*scope);
  size_t bars = 0;
  for (char c : key) bars += c == '|';
  if (bars != 2) __builtin_trap();
  if (key != scope->uid + "|" + scope->ws + "|" + scope->thread) __builtin_trap();
  return 0;
}
