#include "updater/client/installation.h"

#include "platform/folders.h"
#include "platform/read_file.h"
#include "updater/client/package_names.h"

namespace VirelantDesktop::update_client {
namespace {

// The folder part of an absolute path ("/" for a top-level entry).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

Installation InstallationOf(const std::string& executablePath) {
  if (executablePath.empty() || executablePath.front() != '/') throw ClientError("the executable path is unknown");
  Installation installation;
  installation.executableDir = FolderOf(executablePath);
  if (installation.executableDir == "/") throw ClientError("the executable is not inside an installation folder");
  installation.root = FolderOf(installation.executableDir);
  installation.packagesDir = (installation.root == "/" ? "" : installation.root) + "/packages";

  const std::string versionPath = installation.executableDir + "/" + kVersionFileName;
  const platform::ReadFileResult file = platform::ReadWholeFile(versionPath);
  if (file.status != platform::ReadStatus::Ok) throw ClientError("cannot read " + versionPath);
  const std::optional<InstalledVersion> installed = ParseVersionFile(file.data);
  if (!installed) throw ClientError("invalid version file " + versionPath);
  installation.appId = installed->appId;
  installation.version = installed->version;
  return installation;
}

Installation LocateInstallation() {
  const std::optional<std::string> executable = platform::ExecutablePath();
  if (!executable) throw ClientError("the executable path is unknown");
  return InstallationOf(*executable);
}

}  // namespace VirelantDesktop::update_client
