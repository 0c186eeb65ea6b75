// The full packages in the installation's packages folder: downloading one
// crash-safe and checked, and finding the one waiting for a restart.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "updater/client/installation.h"
#include "updater/client/package_names.h"
#include "updater/client/release_feed.h"

namespace VirelantDesktop::update_client {

struct PackageDigests {
  std::string sha1;    // lower-case hex
  std::string sha256;  // lower-case hex
};

// Both digests of an open file's content, read from the start. Throws.
PackageDigests DigestsOfFile(int fd, const std::string& path);

// Downloads `asset` (accepted by RefuseFullAsset) from `feedUrl` + its file
// name into the packages folder: written to "<name>.partial" while its
// size, SHA1 and SHA256 are checked, flushed, then renamed to "<name>".
// `progress` gets each new whole percent (100 once the file is in place).
// On any failure the partial file is removed and ClientError thrown.
void DownloadFullPackage(const std::string& feedUrl, const Installation& installation, const FeedAsset& asset,
                         const std::function<void(size_t percent)>& progress);

// The downloaded full package of this application with the highest version
// newer than the running one, described from the file itself (size and
// digests computed now, notes empty); nullopt when there is none, or when
// it is the package of the last failed apply.
std::optional<FeedAsset> FindPendingPackage(const Installation& installation);

// The apply helper's record of the last failed apply (kFailedApplyName);
// nullopt when there is none or it cannot be read.
std::optional<FailedApply> ReadFailedApply(const Installation& installation);

// `asset` is the package whose apply failed last: same version, same SHA256.
bool IsFailedPackage(const Installation& installation, const FeedAsset& asset);

}  // namespace VirelantDesktop::update_client
