#include "embed/embed_profile.h"

#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "platform/confined_tree.h"
#include "platform/folders.h"
#include "platform/profile_lock.h"

namespace VirelantDesktop::Embed {
namespace {

using platform::EntryType;

constexpr const char* kProfilesFolder = "/embed-tmp";
constexpr const char* kMarkerName = "/.alive";
// The marker is made and locked under this name, then renamed to ".alive".
constexpr const char* kMarkerDraftName = "/.alive.new";
constexpr const char* kDataFolderName = "/wv2";
constexpr auto kPurgeRetryInterval = std::chrono::milliseconds(50);

// A version 4 GUID as 32 lower-case hex digits, or "fallback" when the
// system has no random bytes to give.
std::string NewProfileName() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return "fallback";
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  constexpr char kHex[] = "0123456789abcdef";
  std::string name;
  name.reserve(2 * sizeof bytes);
  for (const unsigned char byte : bytes) {
    name.push_back(kHex[byte >> 4]);
    name.push_back(kHex[byte & 0x0F]);
  }
  return name;
}

// Whether the owner of the profile `folder` is gone.
bool IsStale(const std::string& folder, int64_t graceMs) {
  switch (platform::ProbeMarker(folder + kMarkerName)) {
    case platform::MarkerState::Held:
      return false;
    case platform::MarkerState::Free:
      return true;
    case platform::MarkerState::Missing: {
      // No marker yet: a process may be setting the profile up right now.
      const std::optional<int64_t> age = platform::FolderAgeMs(folder);
      return age && *age >= graceMs;
    }
  }
  return false;
}

bool IsRealFolder(const std::string& path) { return platform::EntryTypeOf(path) == EntryType::Folder; }

}  // namespace

std::string EmbedProfileBase() {
  const std::optional<std::string> data = platform::UserDataDir();
  return data ? *data + "/TALVEK" : std::string();
}

int WipeStaleProfiles(const std::string& base, int64_t graceMs) {
  if (base.empty()) return 0;
  const std::string root = base + kProfilesFolder;
  const platform::UniqueFd folder = platform::OpenFolderNoFollow(root);
  if (!folder) return 0;
  int removed = 0;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
    // Links and files are not ours to judge: they are left where they are.
    if (entry.type != EntryType::Folder) continue;
    if (IsStale(root + "/" + entry.name, graceMs) && platform::RemoveTreeAt(folder, entry.name)) ++removed;
  }
  return removed;
}

EmbedProfile& EmbedProfile::Get() {
  static EmbedProfile profile;
  return profile;
}

std::string EmbedProfile::EnsureCreated() {
  std::lock_guard lock(mutex_);
  return EnsureCreatedLocked();
}

std::string EmbedProfile::EnsureCreatedLocked() {
  if (shuttingDown_) return {};
  if (!path_.empty()) return path_;
  const std::string base = EmbedProfileBase();
  if (base.empty()) return {};
  const std::string root = base + kProfilesFolder;
  // A linked "embed-tmp" would never be wiped: refused.
  if (!platform::CreateDirs(root, 0700) || !IsRealFolder(root)) return {};

  const std::string folder = root + "/" + NewProfileName();
  if (!platform::CreateNewFolder(folder, 0700)) {
    // Only the fallback name is ever taken. A live owner keeps it; a dead
    // one's folder is cleared and made anew. Nothing else is removed here.
    if (!IsRealFolder(folder) || !IsStale(folder, kProfileStartGraceMs) || !platform::RemoveTree(folder) ||
        !platform::CreateNewFolder(folder, 0700)) {
      return {};
    }
  }
  platform::UniqueFd marker = platform::CreateLockedMarker(folder + kMarkerDraftName);
  if (!marker || !platform::RenameEntry(folder + kMarkerDraftName, folder + kMarkerName)) {
    marker.Reset();
    platform::RemoveTree(folder);
    return {};
  }
  marker_ = std::move(marker);
  path_ = folder;
  return path_;
}

std::string EmbedProfile::DataFolder() {
  std::lock_guard lock(mutex_);
  return DataFolderLocked();
}

std::string EmbedProfile::RequestEnvironment() {
  std::lock_guard lock(mutex_);
  if (shuttingDown_) return {};
  if (!environmentWiped_) {
    environmentWiped_ = true;
    WipeStaleProfiles(EmbedProfileBase());
  }
  return DataFolderLocked();
}

std::string EmbedProfile::DataFolderLocked() {
  const std::string profile = EnsureCreatedLocked();
  if (profile.empty()) return {};
  const std::string data = profile + kDataFolderName;
  if (!platform::CreateDirs(data, 0700) || !IsRealFolder(data)) return {};
  return data;
}

bool EmbedProfile::Purge(int budgetMs) {
  std::lock_guard lock(mutex_);
  shuttingDown_ = true;
  marker_.Reset();
  if (path_.empty()) return true;
  const std::function<bool(const std::string&)> removeTree =
      removeTree_ ? removeTree_ : std::function<bool(const std::string&)>(platform::RemoveTree);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(budgetMs, 0));
  for (;;) {
    if (removeTree(path_)) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kPurgeRetryInterval, deadline - now));
  }
}

void EmbedProfile::ResetForTesting() {
  EmbedProfile& profile = Get();
  std::lock_guard lock(profile.mutex_);
  profile.marker_.Reset();
  profile.path_.clear();
  profile.shuttingDown_ = false;
  profile.environmentWiped_ = false;
  profile.removeTree_ = nullptr;
}

void EmbedProfile::SetRemoveTreeForTesting(std::function<bool(const std::string&)> removeTree) {
  EmbedProfile& profile = Get();
  std::lock_guard lock(profile.mutex_);
  profile.removeTree_ = std::move(removeTree);
}

}  // namespace VirelantDesktop::Embed
