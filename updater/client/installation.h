// The installation the running executable belongs to:
//
//   <root>/current/<executable>        (with libtalvek-update.so and talvek-update-apply)
//   <root>/current/update.version      {"id": "talvek", "version": "0.2.1"}
//   <root>/packages/                   downloaded full packages
#pragma once

#include <stdexcept>
#include <string>

namespace VirelantDesktop::update_client {

// Any failure of the client that is reported to its caller as text.
class ClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Installation {
  std::string executableDir;  // <root>/current
  std::string root;           // two levels above the executable file
  std::string packagesDir;    // <root>/packages
  std::string appId;
  std::string version;

  // Runs from <root>/current, the only layout an update can swap (a program
  // run from anywhere else, such as a build tree, is left alone).
  bool IsSwappable() const { return executableDir == root + "/current"; }
};

// From /proc/self/exe and the version file beside it. Throws ClientError.
Installation LocateInstallation();

// The same for an executable at `executablePath` (absolute).
Installation InstallationOf(const std::string& executablePath);

// The helper program beside the executable.
inline constexpr const char* kApplyHelperName = "talvek-update-apply";
// Left in the new installation folder by the apply helper; the first start
// of the new version consumes it (startup.h).
inline constexpr const char* kAppliedMarkerName = "update.applied";
// Made in <root> on the first start of an installation.
inline constexpr const char* kFirstRunMarkerName = ".first-run-done";
// Held by the apply helper while it works, in the packages folder.
inline constexpr const char* kApplyLockName = ".apply.lock";
// The apply helper's log, in the packages folder.
inline constexpr const char* kApplyLogName = "apply.log";

}  // namespace VirelantDesktop::update_client
