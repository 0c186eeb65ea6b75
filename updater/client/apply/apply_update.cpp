#include "updater/client/apply/apply_update.h"

#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

#include "platform/read_file.h"
#include "updater/client/client_os.h"
#include "updater/client/installation.h"
#include "updater/client/package_names.h"
#include "updater/sha256.h"

namespace VirelantDesktop::update_client {
namespace {

constexpr size_t kReadBlockBytes = size_t{1} << 20;
constexpr const char* kExecutableName = "talvek";

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) {
    throw std::runtime_error("no random bytes for the new folder name");
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : random) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

// The package must still be what the client checked: same size, same SHA-256.
void VerifyPackage(int fd, const ApplyRequest& request) {
  if (os::FileSizeOf(fd) != request.size) throw std::runtime_error("package size changed: " + request.packagePath);
  updater::Sha256 hash;
  std::vector<char> block(kReadBlockBytes);
  while (const size_t got = os::ReadSome(fd, block.data(), block.size(), request.packagePath)) {
    hash.Update(block.data(), got);
  }
  if (updater::Sha256Hex(hash.Final()) != request.sha256) {
    throw std::runtime_error("package SHA256 changed: " + request.packagePath);
  }
}

// The unpacked folder must be this application at the version announced,
// with its executable.
void VerifyUnpacked(const std::string& folder, const ApplyRequest& request) {
  const platform::ReadFileResult versionFile = platform::ReadWholeFile(folder + "/" + kVersionFileName);
  const std::optional<InstalledVersion> installed =
      versionFile.status == platform::ReadStatus::Ok ? ParseVersionFile(versionFile.data) : std::nullopt;
  if (!installed) throw std::runtime_error("package refused: no valid update.version");
  if (installed->appId != request.appId || installed->version != request.version) {
    throw std::runtime_error("package refused: update.version names " + installed->appId + " " +
                             installed->version);
  }
  os::OpenRegularFile(folder + "/" + kExecutableName);
}

}  // namespace

std::string ApplyUpdate(const ApplyRequest& request, const UnpackLimits& limits) {
  // One apply at a time per installation; the lock goes with this process.
  const platform::UniqueFd lock = os::TryLockFile(request.root + "/packages/" + kApplyLockName);
  if (!lock) throw std::runtime_error("another update is being applied");
  // Folders of applies that did not finish (or an old folder that could not
  // be removed); the live installation is always "current" itself.
  for (const std::string& name : os::FoldersIn(request.root)) {
    if (name.rfind("current-", 0) == 0) os::RemoveTree(request.root + "/" + name);
  }

  const platform::UniqueFd package = os::OpenRegularFile(request.packagePath);
  VerifyPackage(package.Get(), request);

  const std::string current = request.root + "/current";
  const std::string fresh = request.root + "/current-" + request.version + "-" + RandomHex(8);
  try {
    UnpackPackage(package.Get(), request.packagePath, fresh, limits);
    VerifyUnpacked(fresh, request);
    if (!os::CreateMarkerFile(fresh + "/" + kAppliedMarkerName, request.version + "\n")) {
      throw std::runtime_error("cannot write the applied marker");
    }
    os::SyncFolder(fresh);
    const std::string old = os::SwapInFolder(fresh, current);
    if (!old.empty()) os::RemoveTree(old);
  } catch (...) {
    os::RemoveTree(fresh);
    throw;
  }

  std::string outcome = "applied " + request.version;
  if (request.restart) {
    std::vector<std::string> argv = {current + "/" + kExecutableName};
    argv.insert(argv.end(), request.restartArgs.begin(), request.restartArgs.end());
    try {
      os::SpawnDetached(argv, current, -1);
    } catch (const std::exception& error) {
      throw std::runtime_error(outcome + " but could not restart: " + error.what());
    }
    outcome += ", restarted";
  }
  return outcome;
}

}  // namespace VirelantDesktop::update_client
