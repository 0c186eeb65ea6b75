#include "updater/client/release_feed.h"

#include <nlohmann/json.hpp>

#include "updater/client/package_names.h"
#include "updater/update_grammar.h"

namespace VirelantDesktop::update_client {
namespace {

using nlohmann::json;

std::optional<std::string> TextMember(const json& asset, const char* name) {
  const auto found = asset.find(name);
  if (found == asset.end() || found->is_null()) return std::nullopt;
  if (!found->is_string()) throw FeedError(std::string("asset member ") + name + " is not a string");
  return found->get<std::string>();
}

uint64_t SizeMember(const json& asset) {
  const auto found = asset.find("Size");
  if (found == asset.end() || found->is_null()) return 0;
  if (found->is_number_unsigned()) return found->get<uint64_t>();
  if (found->is_number_integer() && found->get<int64_t>() >= 0) return static_cast<uint64_t>(found->get<int64_t>());
  throw FeedError("asset member Size is not a non-negative integer");
}

}  // namespace

std::vector<FeedAsset> ParseReleaseFeed(std::string_view text) {
  // nlohmann's parser and destructor are iterative: deep nesting costs heap,
  // not stack, and the text itself is capped by the caller.
  const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) throw FeedError("releases.json is not valid JSON");
  if (!document.is_object()) throw FeedError("releases.json is not an object");
  const auto list = document.find("Assets");
  if (list == document.end() || !list->is_array()) throw FeedError("releases.json has no Assets array");
  if (list->size() > kMaxFeedAssets) throw FeedError("releases.json lists too many assets");

  std::vector<FeedAsset> assets;
  assets.reserve(list->size());
  for (const json& entry : *list) {
    if (!entry.is_object()) throw FeedError("an asset is not an object");
    FeedAsset asset;
    asset.packageId = TextMember(entry, "PackageId");
    asset.version = TextMember(entry, "Version");
    asset.type = TextMember(entry, "Type");
    asset.fileName = TextMember(entry, "FileName");
    asset.sha1 = TextMember(entry, "SHA1");
    asset.sha256 = TextMember(entry, "SHA256");
    asset.size = SizeMember(entry);
    asset.notesMarkdown = TextMember(entry, "NotesMarkdown");
    asset.notesHtml = TextMember(entry, "NotesHtml");
    assets.push_back(std::move(asset));
  }
  return assets;
}

UpdateChoice ChooseUpdate(const std::vector<FeedAsset>& assets, std::string_view appId,
                          std::string_view currentVersion) {
  UpdateChoice choice;
  const FeedAsset* best = nullptr;
  bool anyOfApp = false;
  for (const FeedAsset& asset : assets) {
    if (asset.packageId != appId) continue;
    anyOfApp = true;
    if (asset.type != "Full" || !asset.version || !IsReleaseVersion(*asset.version)) continue;
    if (updater::CompareVersions(*asset.version, currentVersion).value_or(0) <= 0) continue;
    if (best == nullptr || updater::CompareVersions(*asset.version, *best->version).value_or(0) > 0) best = &asset;
  }
  if (best == nullptr) {
    choice.outcome = anyOfApp ? UpdateChoice::Outcome::kNoUpdate : UpdateChoice::Outcome::kEmpty;
    return choice;
  }
  choice.outcome = UpdateChoice::Outcome::kUpdate;
  choice.target = *best;
  for (const FeedAsset& asset : assets) {
    if (asset.packageId == appId && asset.type == "Delta" && asset.version == best->version) {
      choice.deltas.push_back(asset);
    }
  }
  return choice;
}

}  // namespace VirelantDesktop::update_client

namespace VirelantDesktop::update_client {

std::optional<std::string> RefuseFullAsset(const FeedAsset& asset, std::string_view appId,
                                           std::string_view currentVersion) {
  if (!asset.packageId || !asset.version || !asset.type || !asset.fileName || !asset.sha1 || !asset.sha256) {
    return "the release lacks a required member";
  }
  if (*asset.packageId != appId) return "the release is for another application";
  if (*asset.type != "Full") return "the release is not a full package";
  if (!IsReleaseVersion(*asset.version)) return "the release version is invalid";
  if (updater::CompareVersions(*asset.version, currentVersion).value_or(0) <= 0) {
    return "the release " + *asset.version + " is not newer than " + std::string(currentVersion);
  }
  if (!IsPlainFileName(*asset.fileName) || *asset.fileName != FullPackageFileName(appId, *asset.version)) {
    return "the release file name is not " + FullPackageFileName(appId, *asset.version);
  }
  if (asset.size == 0 || asset.size > kMaxPackageBytes) return "the release size is out of range";
  if (!LowerHexDigest(*asset.sha1, 40) || !LowerHexDigest(*asset.sha256, 64)) return "the release digests are invalid";
  return std::nullopt;
}

}  // namespace VirelantDesktop::update_client
