// The installation the running executable belongs to:
//
//   <root>/current/<executable>        (with libtalvek-update.so and talvek-update-apply)
//   <root>/current/update.version      {"id": "talvek", "version": "0.2.1"}
//   <root>/packages/                   downloaded full packages
#pragma once

#include <stdexcept>
#include <string>

#include "updater/client/update_client.h"

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

// The executable the installation is started through.
inline constexpr const char* kExecutableName = "talvek";
// The helper program beside the executable.
inline constexpr const char* kApplyHelperName = "talvek-update-apply";

// What an installation cannot start or update itself without: each a
// regular file directly in its folder, the programs with the owner's execute
// bit. The apply helper refuses a package, and talvek-feed an input folder,
// that lacks one. (The library is only read by the loader, so it needs no
// execute bit.)
struct RequiredFile {
  const char* name;
  bool program;
};
inline constexpr RequiredFile kRequiredFiles[] = {
    {kExecutableName, true}, {kApplyHelperName, true}, {TUC_LIBRARY_FILE, false}};

// The live installation folder below the root, and where the fallback swap
// (file systems without an atomic exchange) parks the old one between its
// two renames. While "current" is missing, "current-previous" holds the
// last working installation and is moved back (client_os.h,
// RestoreCurrentFolder).
inline constexpr const char* kCurrentFolderName = "current";
inline constexpr const char* kPreviousFolderName = "current-previous";
// Folders of applies (unpacked packages, "current-previous") all start so;
// the helper removes them while "current" exists.
inline constexpr const char* kApplyFolderPrefix = "current-";
// Left in the new installation folder by the apply helper; the first start
// of the new version consumes it (startup.h).
inline constexpr const char* kAppliedMarkerName = "update.applied";
// Made in <root> on the first start of an installation.
inline constexpr const char* kFirstRunMarkerName = ".first-run-done";
// Held by the apply helper while it works, in the packages folder.
inline constexpr const char* kApplyLockName = ".apply.lock";
// The apply helper's log, in the packages folder.
inline constexpr const char* kApplyLogName = "apply.log";
// The last apply that failed, in the packages folder (FailedApply,
// package_names.h): the check offers that exact package no more.
inline constexpr const char* kFailedApplyName = "apply-failed.json";

}  // namespace VirelantDesktop::update_client
