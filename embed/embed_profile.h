// The embed view's throw-away profile: the browsing data of this process's
// web view lives in a folder of its own, wiped when the process is gone.
//
// Layout, below the per-user data folder + "/TALVEK" (the base):
//
//   embed-tmp/<name>/         one per running process, mode 0700; <name> is
//                             a random version 4 GUID as 32 lower-case hex
//                             digits ("fallback" without random bytes)
//   embed-tmp/<name>/.alive   locked (flock) for the life of its process
//   embed-tmp/<name>/wv2      the web view's data folder
//
// The marker is made and locked under another name and then renamed to
// ".alive", so no one ever finds an unlocked ".alive" in a live profile. A
// start-up wipe removes the profiles whose owner is gone; the shutdown purge
// removes this process's own. Nothing here follows a symbolic link.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/unique_fd.h"

namespace VirelantDesktop::Embed {

// How long a profile without a marker is taken for one being set up.
inline constexpr int64_t kProfileStartGraceMs = 10000;

// The per-user data folder + "/TALVEK"; "" when there is no data folder.
std::string EmbedProfileBase();

// Removes the profiles in base + "/embed-tmp" whose owner is gone: those
// whose ".alive" is unlocked, and those without one that are at least
// `graceMs` old. Only real folders are looked at; links and files there are
// left alone, and a link inside a profile is unlinked, never followed. An
// "embed-tmp" that is itself a link is not entered. Returns how many
// profiles were removed.
int WipeStaleProfiles(const std::string& base, int64_t graceMs = kProfileStartGraceMs);

// This process's profile. Thread-safe.
class EmbedProfile {
 public:
  static EmbedProfile& Get();

  // The profile folder, made on the first call; "" when it cannot be made,
  // when there is no data folder, and after Purge.
  std::string EnsureCreated();
  // The profile + "/wv2" (made when missing); "" when there is no profile.
  std::string DataFolder();
  // The web view's environment asks for its data folder. The first request
  // in the process runs the start-up wipe again, before this process's
  // profile is made: a profile left by a process that died after this one
  // started goes now, not at the next start (ours is locked, so it stays).
  // Later requests do not wipe. Returns DataFolder(); "" when there is none,
  // and after Purge, when nothing is wiped either.
  std::string RequestEnvironment();
  // Lets go of the marker and removes the profile, trying again every 50 ms
  // until it is gone or `budgetMs` has passed (one try at least). True when
  // it is gone (also when none was made). Later calls of EnsureCreated give
  // "". Holds off the other calls while it runs.
  bool Purge(int budgetMs);

  // Forgets the profile (closing its marker, leaving its folder), the purge,
  // the environment's wipe and the removal below, as if the process had just
  // started.
  static void ResetForTesting();
  // The removal Purge uses (empty: the real one).
  static void SetRemoveTreeForTesting(std::function<bool(const std::string&)> removeTree);

  EmbedProfile(const EmbedProfile&) = delete;
  EmbedProfile& operator=(const EmbedProfile&) = delete;

 private:
  EmbedProfile() = default;
  std::string EnsureCreatedLocked();
  std::string DataFolderLocked();

  std::mutex mutex_;  // guards the members below; held through wipes, removals and purges
  std::string path_;               // "" until made
  platform::UniqueFd marker_;      // the locked ".alive"
  bool shuttingDown_ = false;      // set by Purge
  bool environmentWiped_ = false;  // the first environment request's wipe ran
  std::function<bool(const std::string&)> removeTree_;
};

}  // namespace VirelantDesktop::Embed
