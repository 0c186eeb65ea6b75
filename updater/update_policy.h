// What a release manifest must be before anything is downloaded or applied:
// readable, for our channel and platform, issued inside the time window, not
// older than the newest manifest ever accepted, and for a newer version.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::updater {

// The platform a manifest must name for this build ("win-x64" on Windows).
inline constexpr const char* kPolicyOs = "linux-x64";
inline constexpr int64_t kEarliestIssuedAtMs = 1577836800000;  // 2020-01-01T00:00:00Z
inline constexpr int64_t kClockSkewMs = 86400000;              // 24 h

// The newest accepted "issuedAt", kept across runs.
class IssuedAtStore {
 public:
  enum class LoadResult { Found, Absent, Unreadable };
  virtual ~IssuedAtStore() = default;
  virtual LoadResult Load(int64_t& value) = 0;  // callers act only on Found
  virtual bool Save(int64_t value) = 0;
};

struct UpdatePolicy {
  std::string channel;                   // "production"
  std::string os;                        // "linux-x64" on this build
  std::function<int64_t()> clock;        // UTC ms; empty: the system clock
  IssuedAtStore* store = nullptr;        // optional
};

// The manifest as the engine keeps it: version, full package file, and its
// SHA-256 in lower case. nullopt when unparsable: not a JSON object, an empty
// or missing "version", "full" not an object, "full"."file" not a string, or
// "full"."sha256" not 64 hex digits.
struct ParsedManifest {
  std::string version;
  std::string file;
  std::string sha256;
};
std::optional<ParsedManifest> ReadManifest(std::string_view text);

// The checks in their order; "" when the manifest passes (then `issuedAt`
// holds its issue time), else the first failure: "policy_unset",
// "policy_schema", "wrong_channel", "wrong_os", "issued_too_old",
// "issued_in_future", "expired", "replay", "not_newer".
std::string EvaluatePolicy(std::string_view manifest, const UpdatePolicy& policy, std::string_view runningVersion,
                           int64_t& issuedAt);

// Keeps `issuedAt` as the newest accepted one (never moving backwards); true
// when there is nothing to keep or it was kept.
bool RecordAcceptedIssuedAt(const UpdatePolicy& policy, int64_t issuedAt);

// The version-name rule: 1 to 64 characters of [A-Za-z0-9+-.].
bool IsVersionName(std::string_view text);
// The file-name rule: 1 to 200 bytes, not "." or "..", no "/", ":", "\\" and
// no byte below 0x20.
bool IsPlainFileName(std::string_view text);

// The gate record: which version, package file and digest may be applied.
struct GateRecord {
  std::string version;
  std::string file;
  std::string sha256;
};
std::string BuildGateText(const GateRecord& gate);
// Exactly four LF-ended lines: the header, a version of 1 to 64 of
// [A-Za-z0-9+-.], a plain file name of 1 to 200 bytes, 64 lower-case hex digits.
std::optional<GateRecord> ParseGateText(std::string_view text);

}  // namespace VirelantDesktop::updater
