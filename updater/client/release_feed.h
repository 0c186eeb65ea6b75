// The feed's asset list, "releases.json", and the choice of the update:
//
//   {"Assets": [{"PackageId": "talvek", "Version": "1.2.0", "Type": "Full",
//                "FileName": "talvek-1.2.0-full.nupkg", "SHA1": "<40 hex>",
//                "SHA256": "<64 hex>", "Size": 123, "NotesMarkdown": "",
//                "NotesHtml": ""}, ...]}
//
// Pure: no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace VirelantDesktop::update_client {

// A malformed asset list; what() says what was wrong.
class FeedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One asset as the feed gave it. A text member that is missing or null stays
// nullopt (the caller decides whether it needs it); Size missing or null is 0.
struct FeedAsset {
  std::optional<std::string> packageId;
  std::optional<std::string> version;
  std::optional<std::string> type;
  std::optional<std::string> fileName;
  std::optional<std::string> sha1;
  std::optional<std::string> sha256;
  uint64_t size = 0;
  std::optional<std::string> notesMarkdown;
  std::optional<std::string> notesHtml;
  bool operator==(const FeedAsset&) const = default;
};

inline constexpr size_t kMaxFeedAssets = 10000;

// Throws FeedError unless the text is an object whose "Assets" is an array of
// at most kMaxFeedAssets objects, each text member a string or null and
// "Size" a non-negative integer or null.
std::vector<FeedAsset> ParseReleaseFeed(std::string_view text);

struct UpdateChoice {
  enum class Outcome { kUpdate, kNoUpdate, kEmpty };
  Outcome outcome = Outcome::kEmpty;
  FeedAsset target;               // kUpdate only
  std::vector<FeedAsset> deltas;  // the "Delta" assets of the target's version, in feed order
};

// Among the assets of `appId`, the "Full" release of highest precedence that
// is newer than `currentVersion` (never a downgrade; on equal precedence the
// first in feed order). kEmpty when the feed has no asset of `appId` at all;
// assets whose version does not parse are passed over.
UpdateChoice ChooseUpdate(const std::vector<FeedAsset>& assets, std::string_view appId,
                          std::string_view currentVersion);

}  // namespace VirelantDesktop::update_client

namespace VirelantDesktop::update_client {

inline constexpr uint64_t kMaxPackageBytes = uint64_t{4} << 30;

// Why `asset` may not be downloaded or applied by the installation of
// `appId` at `currentVersion`, or nullopt when it may: it must be a "Full"
// release of `appId` newer than `currentVersion`, named exactly
// FullPackageFileName(id, version), with a size of 1 byte to
// kMaxPackageBytes and hex SHA1 and SHA256 digests.
std::optional<std::string> RefuseFullAsset(const FeedAsset& asset, std::string_view appId,
                                           std::string_view currentVersion);

}  // namespace VirelantDesktop::update_client
