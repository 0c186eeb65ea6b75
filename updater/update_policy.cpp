#include "updater/update_policy.h"

#include <chrono>
#include <vector>

#include "updater/json_reader.h"
#include "updater/update_grammar.h"

namespace VirelantDesktop::updater {
namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

const std::string* StringMember(const JsonValue& object, std::string_view key) {
  const JsonValue* value = object.Find(key);
  return value != nullptr ? value->AsString() : nullptr;
}

int64_t SystemNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A stored value L the rules listen to: inside [2020-01-01, now + 24 h].
std::optional<int64_t> StoredWithinWindow(IssuedAtStore* store, int64_t now) {
  if (store == nullptr) return std::nullopt;
  int64_t stored = 0;
  if (store->Load(stored) != IssuedAtStore::LoadResult::Found) return std::nullopt;
  if (stored < kEarliestIssuedAtMs || stored > now + kClockSkewMs) return std::nullopt;
  return stored;
}

}  // namespace

bool IsVersionName(std::string_view text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

bool IsPlainFileName(std::string_view text) {
  if (text.empty() || text.size() > 200 || text == "." || text == "..") return false;
  for (char c : text) {
    if (c == '/' || c == ':' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

std::optional<ParsedManifest> ReadManifest(std::string_view text) {
  try {
    const JsonValue root = ParseJson(text);
    if (root.AsObject() == nullptr) return std::nullopt;
    const std::string* version = StringMember(root, "version");
    const JsonValue* full = root.Find("full");
    if (version == nullptr || version->empty() || full == nullptr || full->AsObject() == nullptr) return std::nullopt;
    const std::string* file = StringMember(*full, "file");
    const std::string* sha256 = StringMember(*full, "sha256");
    if (file == nullptr || sha256 == nullptr || sha256->size() != 64) return std::nullopt;
    ParsedManifest manifest{*version, *file, *sha256};
    for (char& c : manifest.sha256) {
      if (!IsHex(c)) return std::nullopt;
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    return manifest;
  } catch (...) {
    return std::nullopt;
  }
}

std::string EvaluatePolicy(std::string_view manifest, const UpdatePolicy& policy, std::string_view runningVersion,
                           int64_t& issuedAt) {
  try {
    if (policy.channel.empty() || policy.os.empty()) return "policy_unset";
    const JsonValue root = ParseJson(manifest);
    if (root.AsObject() == nullptr) return "policy_schema";
    const std::string* channel = StringMember(root, "channel");
    const std::string* os = StringMember(root, "os");
    const std::string* version = StringMember(root, "version");
    const std::string* issued = StringMember(root, "issuedAt");
    const std::string* expires = StringMember(root, "expiresAt");
    if (channel == nullptr || os == nullptr || version == nullptr || issued == nullptr || expires == nullptr) {
      return "policy_schema";
    }
    const auto issuedMs = ParseTimestampMs(*issued);
    const auto expiresMs = ParseTimestampMs(*expires);
    if (!issuedMs || !expiresMs || *expiresMs <= *issuedMs || !ParseSemVer(*version)) return "policy_schema";
    if (*channel != policy.channel) return "wrong_channel";
    if (*os != policy.os) return "wrong_os";
    const int64_t now = policy.clock ? policy.clock() : SystemNowMs();
    if (*issuedMs < kEarliestIssuedAtMs) return "issued_too_old";
    if (*issuedMs > now + kClockSkewMs) return "issued_in_future";
    if (*expiresMs <= now) return "expired";
    const auto stored = StoredWithinWindow(policy.store, now);
    if (stored && *issuedMs < *stored) return "replay";
    const auto order = CompareVersions(*version, runningVersion);
    if (!order) return "policy_schema";
    if (*order <= 0) return "not_newer";
    issuedAt = *issuedMs;
    return "";
  } catch (...) {
    return "policy_schema";
  }
}

bool RecordAcceptedIssuedAt(const UpdatePolicy& policy, int64_t issuedAt) {
  if (policy.store == nullptr) return true;
  if (issuedAt < kEarliestIssuedAtMs) return false;
  const int64_t now = policy.clock ? policy.clock() : SystemNowMs();
  const auto stored = StoredWithinWindow(policy.store, now);
  if (stored && *stored >= issuedAt) return true;  // never backwards
  return policy.store->Save(issuedAt);
}

std::string BuildGateText(const GateRecord& gate) {
  return "talvek-gate-v1\n" + gate.version + "\n" + gate.file + "\n" + gate.sha256 + "\n";
}

std::optional<GateRecord> ParseGateText(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return std::nullopt;  // every line ends with LF
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() != 4 || lines[0] != "talvek-gate-v1") return std::nullopt;
  if (!IsVersionName(lines[1]) || !IsPlainFileName(lines[2]) || lines[3].size() != 64) return std::nullopt;
  for (char c : lines[3]) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  }
  return GateRecord{std::string(lines[1]), std::string(lines[2]), std::string(lines[3])};
}

}  // namespace VirelantDesktop::updater
