#include "updater/update_rules.h"

#include <array>
#include <limits>

#include "platform/ascii_text.h"

namespace TalvekUpdater {

using VirelantDesktop::updater::GateRecord;
using VirelantDesktop::updater::IsPlainFileName;
using VirelantDesktop::updater::IsVersionName;
using VirelantDesktop::updater::ParsedManifest;

std::optional<UpdaterFail> CheckFeedAgainstManifest(const FeedRelease& feed, const ParsedManifest& manifest) {
  if (!IsPlainFileName(feed.fileName) || !IsVersionName(feed.version)) {
    return UpdaterFail(kStageVerify, "bad_feed_name");
  }
  if (VirelantDesktop::platform::LowerAscii(feed.sha256) != manifest.sha256 || manifest.version != feed.version) {
    return UpdaterFail(kStageVerify, "feed_vs_manifest");
  }
  if (manifest.file != feed.fileName) return UpdaterFail(kStageVerify, "file_name_vs_manifest");
  return std::nullopt;
}

bool HasRoomForPackage(uint64_t packageSize, uint64_t available) {
  if (packageSize == 0) return true;
  if (packageSize > std::numeric_limits<uint64_t>::max() / 3) return false;
  return available >= packageSize * 3;
}

bool IsPackageFileOfVersion(std::string_view name, std::string_view version) {
  if (!(name.ends_with("-full.nupkg") || name.ends_with("-delta.nupkg") || name.ends_with(".partial"))) return false;
  const std::string needle = "-" + std::string(version) + "-";
  const size_t at = name.find(needle);
  if (at == std::string_view::npos) return false;
  const std::string_view before = name.substr(0, at);
  const std::string_view after = name.substr(at + needle.size());
  if (before.find('-') != std::string_view::npos) return false;
  size_t dashes = 0;
  for (char c : after) dashes += c == '-' ? 1 : 0;
  return dashes < 2;
}

std::optional<std::string> PackageFileVersion(std::string_view name) {
  std::string_view rest = name;
  if (rest.ends_with(".partial")) rest.remove_suffix(std::string_view(".partial").size());
  bool typed = false;
  for (const std::string_view suffix : {std::string_view("-full.nupkg"), std::string_view("-delta.nupkg")}) {
    if (!typed && rest.ends_with(suffix)) {
      rest.remove_suffix(suffix.size());
      typed = true;
    }
  }
  const size_t dash = rest.find('-');
  if (!typed || dash == std::string_view::npos) return std::nullopt;
  const std::string version(rest.substr(dash + 1));
  if (!VirelantDesktop::updater::IsVersionName(version) || !IsPackageFileOfVersion(name, version)) return std::nullopt;
  return version;
}

bool IsEngineStopped(std::string_view reason) {
  constexpr std::array<std::string_view, 4> kStopped = {"quit", "eof", "killed", "not_running"};
  for (std::string_view known : kStopped) {
    if (reason == known) return true;
  }
  return false;
}

bool ManifestMatchesGate(const ParsedManifest& manifest, const GateRecord& gate) {
  return manifest.version == gate.version && manifest.file == gate.file && manifest.sha256 == gate.sha256;
}

}  // namespace TalvekUpdater
