// The update engine's decisions that need no I/O: whether a feed entry
// agrees with the signed manifest, whether there is room for a package,
// which package files belong to a version, which engine stops let an
// update go ahead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "updater/update_backend.h"
#include "updater/update_policy.h"

namespace TalvekUpdater {

// The feed entry against the signed manifest, before anything is
// downloaded: verify/"bad_feed_name" (file-name or version-name rule),
// verify/"feed_vs_manifest" (digest, compared in lower case, or version),
// verify/"file_name_vs_manifest". nullopt when they agree.
std::optional<UpdaterFail> CheckFeedAgainstManifest(const FeedRelease& feed,
                                                    const VirelantDesktop::updater::ParsedManifest& manifest);

// Room for a package of `packageSize` bytes when `available` bytes are
// free: three times its size, so the download, its unpacked copy and the
// old installation fit together. A size of zero is not checked.
bool HasRoomForPackage(uint64_t packageSize, uint64_t available);

// True for a package file of `version` in the packages folder: the name ends
// in "-full.nupkg", "-delta.nupkg" or ".partial", holds "-" + version + "-"
// with no "-" before it and fewer than two after it ("App-1.2.3-full.nupkg",
// not "My-App-1.2.3-full.nupkg" nor "App-1.2.30-full.nupkg").
bool IsPackageFileOfVersion(std::string_view name, std::string_view version);

// The version a package file's name carries: the text between the first "-"
// and "-full.nupkg" or "-delta.nupkg" (either perhaps followed by
// ".partial"), when the name is a package file of that version as
// IsPackageFileOfVersion says; nullopt otherwise.
std::optional<std::string> PackageFileVersion(std::string_view name);

// The stop reasons after which the local engine is known to be gone.
bool IsEngineStopped(std::string_view reason);

// The stored manifest agrees with the gate record.
bool ManifestMatchesGate(const VirelantDesktop::updater::ParsedManifest& manifest,
                         const VirelantDesktop::updater::GateRecord& gate);

}  // namespace TalvekUpdater
