// The engine's backend on the update client library: feed check, package
// download, the update waiting for a restart and the apply-and-restart step
// go through the library; small release assets ("manifest.json",
// "manifest.sig", "pause.json") come from the same feed through the asset
// fetcher.
//
// Deltas are switched off: the stored update information only ever carries
// the full release. The backend's lock guards the library's update manager
// and the stored update information; the engine's lock serialises the rest.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "updater/update_backend.h"
#include "updater/update_client_library.h"

namespace TalvekUpdater {

// A release as the library reports it; every text field is required.
struct ClientAsset {
  std::string packageId;
  std::string version;
  std::string type;
  std::string fileName;
  std::string sha1;
  std::string sha256;
  uint64_t size = 0;
  std::string notesMarkdown;
  std::string notesHtml;

  FeedRelease ToFeedRelease() const { return {version, fileName, sha256, type, size}; }
};

// Copies the library's asset; a null text field throws the runtime error
// "Required property <Name> was null", a null asset "Expected value not present".
ClientAsset ReadClientAsset(const tuc_asset* asset);

// (asset name, feed URL) -> the asset's text, or nullopt.
using AssetFetcher = std::function<std::optional<std::string>(const std::string& name, const std::string& feedUrl)>;
// (application id) -> the folder where the library keeps downloaded packages.
using PackageDirFn = std::function<std::string(const std::string& appId)>;

class VelopackBackend final : public Backend {
 public:
  struct Options {
    std::string feedUrl;
    AssetFetcher fetchAsset;
    PackageDirFn packageDir;
    // Null: the library is missing, and every library call fails with
    // check/"velopack_missing".
    std::shared_ptr<const UpdateClientLibrary> library;
  };

  explicit VelopackBackend(Options options);
  ~VelopackBackend() override;
  VelopackBackend(const VelopackBackend&) = delete;
  VelopackBackend& operator=(const VelopackBackend&) = delete;

  FeedCheck CheckFeed() override;
  void DownloadFull(const ProgressFn& progress) override;
  std::optional<FeedRelease> PendingRestart() override;
  void ApplyPending(const std::string& version, const std::string& fileName) override;
  std::string PackagesDir() override;
  std::string CurrentVersion() override;
  std::optional<std::string> ReadAsset(const std::string& name) override;

 private:
  const UpdateClientLibrary& Library() const;
  template <class Fn>
  Fn Require(Fn fn) const;
  tuc_update_manager* Manager();
  std::string ManagerText(size_t (*call)(tuc_update_manager*, char*, size_t));
  [[noreturn]] void ThrowLastError() const;

  const Options options_;
  std::mutex mutex_;  // guards manager_, target_ and pendingAsset_
  tuc_update_manager* manager_ = nullptr;
  std::optional<ClientAsset> target_;        // the full release of the last check that found one
  std::optional<ClientAsset> pendingAsset_;  // the last update reported as waiting for a restart
};

// The program's package folder: two levels above the running executable
// (which runs from a version folder inside the installation root) + "/packages".
// UpdaterFail check/"" when the executable's path cannot be read or is 520
// bytes or longer.
std::string InstalledPackagesDir(const std::string& appId);

}  // namespace TalvekUpdater
