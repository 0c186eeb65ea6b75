// The update engine: check for an update, download it, apply it, or discard
// what was prepared.
//
// The feed alone is never trusted. A package must be described by a manifest
// signed with a trusted key that passes the update policy, and must agree
// with the feed entry in version, file name and SHA-256. After a download
// the engine keeps the manifest, its signature and a gate record (version,
// file, digest) in the packages folder; apply works from those files only,
// re-verifies all of it against the package on disk, stops the local engine
// process and then hands the package to the backend.
//
// Every operation holds the engine's lock for its whole run, so calls from
// several threads queue. Failures are thrown as UpdaterFail; a runtime error
// of the backend's feed check or package folder passes through as it is
// (the module reports it as a failed check).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "updater/issued_at_store.h"
#include "updater/signature_check.h"
#include "updater/update_backend.h"
#include "updater/update_policy.h"

namespace TalvekUpdater {

using VirelantDesktop::updater::FileIssuedAtStore;
using VirelantDesktop::updater::IssuedAtStore;
using VirelantDesktop::updater::SignatureVerifier;
using VirelantDesktop::updater::SigVerdict;
using VirelantDesktop::updater::UpdatePolicy;

// Files the engine keeps in the packages folder.
inline constexpr const char* kManifestCopyFile = "talvek-manifest.json";
inline constexpr const char* kSignatureCopyFile = "talvek-manifest.sig";
inline constexpr const char* kGateFile = "talvek-gate.txt";

struct CheckOutcome {
  struct Delta {
    std::string file;
    std::string sha256;
  };
  std::string manifestB64;  // the signed manifest bytes in standard Base64
  std::string sig;          // the signature file text
  std::string nativeKeyId;  // the trusted key that verified it
  std::string feedVersion;
  std::string feedSha256;   // as in the feed
  std::vector<Delta> deltas;
  std::optional<std::string> pauseJson;
};

// What a successful check leaves for the download.
struct PendingRecord {
  VirelantDesktop::updater::ParsedManifest manifest;  // sha256 in lower case
  FeedRelease feed;
  std::string manifestText;
  std::string signatureText;
};

struct EngineParts {
  std::shared_ptr<Backend> backend;  // required
  // Empty: every signature is refused.
  SignatureVerifier verifier;
  // Stops the local engine process and says how ("quit", "eof", "killed",
  // "not_running"; anything else stops the apply). Empty: "not_running".
  std::function<std::string()> engineStop;
  // Called once the backend has taken the update (the program asks itself
  // to quit here).
  std::function<void()> afterApply;
  UpdatePolicy policy;
  // Owned here; `policy.store` is pointed at it when set.
  std::shared_ptr<IssuedAtStore> store;
};

class UpdaterEngine {
 public:
  explicit UpdaterEngine(EngineParts parts);

  // nullopt when the feed offers nothing newer.
  std::optional<CheckOutcome> Check();
  // Returns the package's SHA-256 (64 lower-case hex digits). `progress`
  // gets whole percentages on the calling thread, with the lock held.
  std::string Download(const ProgressFn& progress);
  void Apply();
  void Discard();

  // What the last successful check left for the download.
  std::optional<PendingRecord> Pending() const;

 private:
  std::string PackageFile(const std::string& dir, const std::string& name) const { return dir + "/" + name; }
  SigVerdict Verify(const std::string& manifest, const std::string& signature) const;
  // Removes the package files of `version` unless it is the running one.
  void RemovePackagesOf(const std::string& dir, const std::string& version) const;

  mutable std::mutex mutex_;  // guards every member below, and serialises the operations
  std::shared_ptr<Backend> backend_;
  SignatureVerifier verifier_;
  std::function<std::string()> engineStop_;
  std::function<void()> afterApply_;
  std::shared_ptr<IssuedAtStore> store_;
  UpdatePolicy policy_;
  std::optional<PendingRecord> pending_;
};

// The package clean-up: removes the files of `dir` that IsPackageFileOfVersion
// names for `version`. Nothing happens when `version` breaks the version-name
// rule or equals `protectedVersion`, or when `dir` cannot be opened or is a
// symbolic link. Errors are ignored.
void RemovePackageFiles(const std::string& dir, const std::string& version, const std::string& protectedVersion);

// What the running version no longer needs, removed at start-up: the
// package files of every version older than `running` (each through
// RemovePackageFiles, so the running version's own full package stays), and
// the manifest, signature and gate copies once the gate names a version
// that is not newer than `running` or whose package is gone. A gate that
// does not parse is left for the engine (a download replaces it). Safe
// beside a running instance of the same version: its download writes the
// gate last, after the package is in place. Errors are ignored.
void CleanUpPackagesAtStart(const std::string& dir, const std::string& running);

// The free space for the caller at `dir`, or at its nearest existing parent
// while `dir` has not been made yet.
std::optional<uint64_t> FreeSpaceAt(const std::string& dir);

}  // namespace TalvekUpdater
