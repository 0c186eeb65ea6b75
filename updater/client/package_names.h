// Names the update client accepts: application ids, release versions,
// package file names and the installation's version file.
//
// Packages are "<id>-<version>-full.nupkg". The id never holds "-", so the
// text before "-<version>-" of a package name is always the whole id: that
// is how the shell's package clean-up recognises our files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::update_client {

// 1 to 64 characters from A-Z a-z 0-9 "." "_", not starting with ".".
bool IsAppId(std::string_view id);

// A strict semantic version (updater/update_grammar.h) of at most 64
// characters, so it also passes the gate record's version-name rule.
bool IsReleaseVersion(std::string_view version);

// A name that stays inside the folder it is joined to: 1 to 200 bytes, no
// "/", "\", ":" or "..", no control character (below 0x20, or 0x7f).
bool IsPlainFileName(std::string_view name);

// "<id>-<version>-full.nupkg".
std::string FullPackageFileName(std::string_view appId, std::string_view version);

// The version of a full package of `appId` named `fileName`; nullopt when
// the name is not exactly FullPackageFileName(appId, some release version).
std::optional<std::string> VersionOfFullPackage(std::string_view fileName, std::string_view appId);

// The installation's version file, "update.version" beside the executable:
// one JSON object {"id": "<app id>", "version": "<release version>"}; other
// members are ignored.
inline constexpr const char* kVersionFileName = "update.version";

struct InstalledVersion {
  std::string appId;
  std::string version;
};

// nullopt when the text is not such an object or a value breaks its rule.
std::optional<InstalledVersion> ParseVersionFile(std::string_view text);
std::string VersionFileText(const InstalledVersion& installed);

// The record the apply helper leaves when an apply fails, so that the check
// stops offering that exact package (a new release, or the same version
// published again with other bytes, is offered as usual):
//   {"version": "<release version>", "sha256": "<64 lower-case hex>",
//    "reason": "<text for people>"}
// Other members are ignored.
struct FailedApply {
  std::string version;
  std::string sha256;
  std::string reason;
};

// nullopt when the text is not such an object or a value breaks its rule.
std::optional<FailedApply> ParseFailedApply(std::string_view text);
std::string FailedApplyText(const FailedApply& failed);

// Lower-case hexadecimal of exactly `digits` digits (either case accepted);
// nullopt otherwise.
std::optional<std::string> LowerHexDigest(std::string_view text, size_t digits);

}  // namespace VirelantDesktop::update_client
