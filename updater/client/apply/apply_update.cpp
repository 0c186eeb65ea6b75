#include "updater/client/apply/apply_update.h"

#include <openssl/rand.h>

#include <vector>

#include "platform/read_file.h"
#include "updater/client/client_os.h"
#include "updater/client/installation.h"
#include "updater/client/package_names.h"
#include "updater/client/swap_recovery.h"
#include "updater/sha256.h"

namespace VirelantDesktop::update_client {
namespace {

constexpr size_t kReadBlockBytes = size_t{1} << 20;
constexpr unsigned kOwnerExecute = 0100;

using Kind = ApplyError::Kind;

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
// able to start and to update itself again.
void VerifyUnpacked(const std::string& folder, const ApplyRequest& request) {
  const platform::ReadFileResult versionFile = platform::ReadWholeFile(folder + "/" + kVersionFileName);
  const std::optional<InstalledVersion> installed =
      versionFile.status == platform::ReadStatus::Ok ? ParseVersionFile(versionFile.data) : std::nullopt;
  if (!installed) throw std::runtime_error("package refused: no valid update.version");
  if (installed->appId != request.appId || installed->version != request.version) {
    throw std::runtime_error("package refused: update.version names " + installed->appId + " " +
                             installed->version);
  }
  for (const RequiredFile& required : kRequiredFiles) {
    const std::optional<unsigned> mode = os::RegularFileMode(folder + "/" + required.name);
    if (!mode) throw std::runtime_error(std::string("package refused: no ") + required.name);
    if (required.program && (*mode & kOwnerExecute) == 0) {
      throw std::runtime_error(std::string("package refused: ") + required.name + " is not executable");
    }
  }
}

// Runs `step`; any failure becomes an ApplyError of `kind`.
template <class Step>
auto Classified(Kind kind, Step&& step) {
  try {
    return step();
  } catch (const ApplyError&) {
    throw;
  } catch (const std::exception& error) {
    throw ApplyError(kind, error.what());
  }
}

}  // namespace

std::string ApplyUpdate(const ApplyRequest& request, const UnpackLimits& limits) {
  const std::string current = request.root + "/" + kCurrentFolderName;
  const std::string previous = request.root + "/" + kPreviousFolderName;

  // One apply at a time per installation; the lock goes with this process.
  const platform::UniqueFd lock =
      Classified(Kind::kUnchecked, [&] { return os::TryLockFile(request.root + "/packages/" + kApplyLockName); });
  if (!lock) throw ApplyError(Kind::kBusy, "another update is being applied");
  RecoverCutSwap(request.root);
  // Folders of applies that did not finish (or an old folder that could not
  // be removed); the live installation is always "current" itself. Without
  // a "current" they may be all there is, so they stay.
  if (os::IsFolder(current)) {
    for (const std::string& name : os::FoldersIn(request.root)) {
      if (name.rfind(kApplyFolderPrefix, 0) == 0) os::RemoveTree(request.root + "/" + name);
    }
  }

  const platform::UniqueFd package = Classified(Kind::kUnchecked, [&] {
    platform::UniqueFd fd = os::OpenRegularFile(request.packagePath);
    VerifyPackage(fd.Get(), request);
    return fd;
  });

  const std::string fresh = request.root + "/" + kApplyFolderPrefix + request.version + "-" + RandomHex(8);
  std::string outgoing;  // where the folder that was "current" went
  try {
    UnpackPackage(package.Get(), request.packagePath, fresh, limits);
    VerifyUnpacked(fresh, request);
    if (!os::CreateMarkerFile(fresh + "/" + kAppliedMarkerName, request.version + "\n")) {
      throw std::runtime_error("cannot write the applied marker");
    }
    os::SyncFolder(fresh);
    outgoing = os::SwapInFolder(fresh, current, previous);
  } catch (const std::exception& error) {
    os::RemoveTree(fresh);
    throw ApplyError(Kind::kFailed, error.what());
  }

  std::string outcome = "applied " + request.version;
  if (request.restart) {
    std::vector<std::string> argv = {current + "/" + kExecutableName};
    argv.insert(argv.end(), request.restartArgs.begin(), request.restartArgs.end());
    try {
      os::SpawnDetached(argv, current, -1);
    } catch (const std::exception& error) {
      // The new version cannot even be started: the old one goes back.
      std::string failure = std::string("the new version did not start: ") + error.what();
      if (!outgoing.empty()) {
        try {
          os::RemoveTree(os::SwapInFolder(outgoing, current, fresh));
        } catch (const std::exception& undo) {
          failure += "; the old version could not be put back: " + std::string(undo.what());
        }
      }
      throw ApplyError(Kind::kFailed, failure);
    }
    outcome += ", restarted";
  }
  if (!outgoing.empty()) os::RemoveTree(outgoing);
  os::RemoveFile(request.root + "/packages/" + kFailedApplyName);
  return outcome;
}

}  // namespace VirelantDesktop::update_client
