#include "updater/client/package_names.h"

#include <nlohmann/json.hpp>

#include "updater/update_grammar.h"

namespace VirelantDesktop::update_client {
namespace {

constexpr size_t kMaxAppIdBytes = 64;
constexpr size_t kMaxVersionBytes = 64;
constexpr size_t kMaxFileNameBytes = 200;
constexpr std::string_view kFullSuffix = "-full.nupkg";

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool IsAppId(std::string_view id) {
  if (id.empty() || id.size() > kMaxAppIdBytes || id.front() == '.') return false;
  for (const char c : id) {
    if (!IsAlnum(c) && c != '.' && c != '_') return false;
  }
  return true;
}

bool IsReleaseVersion(std::string_view version) {
  return !version.empty() && version.size() <= kMaxVersionBytes && updater::ParseSemVer(version).has_value();
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxFileNameBytes) return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

std::string FullPackageFileName(std::string_view appId, std::string_view version) {
  std::string name;
  name.reserve(appId.size() + version.size() + 1 + kFullSuffix.size());
  name.append(appId).append("-").append(version).append(kFullSuffix);
  return name;
}

std::optional<std::string> VersionOfFullPackage(std::string_view fileName, std::string_view appId) {
  if (!IsAppId(appId) || fileName.size() <= appId.size() + 1 + kFullSuffix.size()) return std::nullopt;
  if (!fileName.starts_with(appId) || fileName[appId.size()] != '-' || !fileName.ends_with(kFullSuffix)) {
    return std::nullopt;
  }
  const std::string_view version =
      fileName.substr(appId.size() + 1, fileName.size() - appId.size() - 1 - kFullSuffix.size());
  if (!IsReleaseVersion(version)) return std::nullopt;
  return std::string(version);
}

std::optional<InstalledVersion> ParseVersionFile(std::string_view text) {
  // Tiny and written by our own tools; nlohmann's parser is iterative, so
  // nesting cannot exhaust the stack.
  const nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!value.is_object()) return std::nullopt;
  const auto id = value.find("id");
  const auto version = value.find("version");
  if (id == value.end() || version == value.end() || !id->is_string() || !version->is_string()) return std::nullopt;
  InstalledVersion installed{id->get<std::string>(), version->get<std::string>()};
  if (!IsAppId(installed.appId) || !IsReleaseVersion(installed.version)) return std::nullopt;
  return installed;
}

std::string VersionFileText(const InstalledVersion& installed) {
  return nlohmann::json{{"id", installed.appId}, {"version", installed.version}}.dump() + "\n";
}

std::optional<FailedApply> ParseFailedApply(std::string_view text) {
  const nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!value.is_object()) return std::nullopt;
  const auto version = value.find("version");
  const auto sha256 = value.find("sha256");
  if (version == value.end() || sha256 == value.end() || !version->is_string() || !sha256->is_string()) {
    return std::nullopt;
  }
  FailedApply failed;
  failed.version = version->get<std::string>();
  const std::string digest = sha256->get<std::string>();
  if (!IsReleaseVersion(failed.version) || LowerHexDigest(digest, 64) != digest) return std::nullopt;
  failed.sha256 = digest;
  const auto reason = value.find("reason");
  if (reason != value.end() && reason->is_string()) failed.reason = reason->get<std::string>();
  return failed;
}

std::string FailedApplyText(const FailedApply& failed) {
  // Replace: a reason quoting a file name need not be valid UTF-8.
  return nlohmann::json{{"version", failed.version}, {"sha256", failed.sha256}, {"reason", failed.reason}}.dump(
             -1, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n";
}

std::optional<std::string> LowerHexDigest(std::string_view text, size_t digits) {
  if (text.size() != digits) return std::nullopt;
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  }
  return lower;
}

}  // namespace VirelantDesktop::update_client
