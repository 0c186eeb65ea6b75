// What the update engine needs from the component that queries the feed,
// downloads packages and replaces the installation, and the one failure type
// of the update flow.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace TalvekUpdater {

// Stages of UpdaterFail, each also a promise rejection code of the module.
inline constexpr const char* kStageCheck = "check";
inline constexpr const char* kStageVerify = "verify";
inline constexpr const char* kStageDownload = "download";
inline constexpr const char* kStageDisk = "disk";
inline constexpr const char* kStageApply = "apply";

// A failure of the update flow: the stage (also the exception's message)
// and a detailed code, which may be empty.
class UpdaterFail : public std::runtime_error {
 public:
  UpdaterFail(const std::string& failedStage, std::string failCode)
      : std::runtime_error(failedStage), stage(failedStage), code(std::move(failCode)) {}

  std::string stage;
  std::string code;
};

// One release of the feed as the engine sees it.
struct FeedRelease {
  std::string version;
  std::string fileName;
  std::string sha256;  // as in the feed (any case)
  std::string type;
  uint64_t size = 0;
};

struct FeedCheck {
  bool updateAvailable = false;
  FeedRelease targetFull;
  std::vector<FeedRelease> deltas;
};

using ProgressFn = std::function<void(int percent)>;

// Operations in the interface's slot order. Failures are thrown:
// UpdaterFail with its stage, or a runtime error carrying the library's text.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual FeedCheck CheckFeed() = 0;
  // Downloads the target full release of the last CheckFeed; `progress` is
  // called on the calling thread.
  virtual void DownloadFull(const ProgressFn& progress) = 0;
  // The downloaded update waiting for a restart; nullopt on any failure.
  virtual std::optional<FeedRelease> PendingRestart() = 0;
  // Hands the pending update (which must be `version` in `fileName`) to the
  // apply step, which runs once this process has exited.
  virtual void ApplyPending(const std::string& version, const std::string& fileName) = 0;
  virtual std::string PackagesDir() = 0;
  // The running version; "" on any error.
  virtual std::string CurrentVersion() = 0;
  // A small release asset of the feed ("manifest.json"...); nullopt when it
  // cannot be had. Never throws.
  virtual std::optional<std::string> ReadAsset(const std::string& name) = 0;
};

}  // namespace TalvekUpdater
