#include "updater/client/package_files.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/read_file.h"
#include "updater/client/client_os.h"
#include "updater/client/https_transfer.h"
#include "updater/client/package_names.h"
#include "updater/update_grammar.h"

namespace VirelantDesktop::update_client {
namespace {

constexpr size_t kReadBlockBytes = size_t{1} << 20;

std::string Hex(const unsigned char* bytes, unsigned length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (unsigned i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

// SHA-1 and SHA-256 of one stream at once.
class DigestPair {
 public:
  DigestPair() : sha1_(EVP_MD_CTX_new()), sha256_(EVP_MD_CTX_new()) {
    if (!sha1_ || !sha256_ || EVP_DigestInit_ex(sha1_.get(), EVP_sha1(), nullptr) != 1 ||
        EVP_DigestInit_ex(sha256_.get(), EVP_sha256(), nullptr) != 1) {
      throw ClientError("cannot start the package digests");
    }
  }
  void Update(const void* data, size_t size) {
    if (EVP_DigestUpdate(sha1_.get(), data, size) != 1 || EVP_DigestUpdate(sha256_.get(), data, size) != 1) {
      throw ClientError("cannot digest the package");
    }
  }
  PackageDigests Final() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    PackageDigests result;
    if (EVP_DigestFinal_ex(sha1_.get(), digest, &length) != 1) throw ClientError("cannot digest the package");
    result.sha1 = Hex(digest, length);
    if (EVP_DigestFinal_ex(sha256_.get(), digest, &length) != 1) throw ClientError("cannot digest the package");
    result.sha256 = Hex(digest, length);
    return result;
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> sha1_;
  std::unique_ptr<EVP_MD_CTX, Free> sha256_;
};

// The state of one download while libcurl feeds it. Nothing may throw
// through libcurl, so a failure is kept here and the transfer stopped.
struct Receiver {
  int fd = -1;
  std::string path;
  uint64_t expected = 0;
  uint64_t received = 0;
  size_t lastPercent = 0;
  DigestPair digests;
  const std::function<void(size_t)>* progress = nullptr;
  std::string failure;

  bool Take(const char* data, size_t size) {
    try {
      if (size > expected - received) {
        failure = "the package is larger than the feed says (" + std::to_string(expected) + " bytes)";
        return false;
      }
      os::WriteAll(fd, data, size, path);
      digests.Update(data, size);
      received += size;
      // 100 is kept for the moment the checked file is in place.
      const auto percent = static_cast<size_t>(received * 100 / expected);
      if (percent > lastPercent && percent < 100) {
        lastPercent = percent;
        (*progress)(percent);
      }
      return true;
    } catch (const std::exception& error) {
      failure = error.what();
      return false;
    }
  }
};

}  // namespace

PackageDigests DigestsOfFile(int fd, const std::string& path) {
  DigestPair digests;
  std::vector<char> block(kReadBlockBytes);
  while (const size_t got = os::ReadSome(fd, block.data(), block.size(), path)) digests.Update(block.data(), got);
  return digests.Final();
}

void DownloadFullPackage(const std::string& feedUrl, const Installation& installation, const FeedAsset& asset,
                         const std::function<void(size_t percent)>& progress) {
  if (const std::optional<std::string> refusal = RefuseFullAsset(asset, installation.appId, installation.version)) {
    throw ClientError(*refusal);
  }
  const std::string finalPath = installation.packagesDir + "/" + *asset.fileName;
  const std::string partialPath = finalPath + ".partial";
  try {
    os::MakeFolders(installation.packagesDir, 0755);
    const platform::UniqueFd file = os::CreateFileForWriting(partialPath, 0644);
    Receiver receiver;
    receiver.fd = file.Get();
    receiver.path = partialPath;
    receiver.expected = asset.size;
    receiver.progress = &progress;
    const bool complete =
        FetchToSink(feedUrl + *asset.fileName, [&](const char* data, size_t size) { return receiver.Take(data, size); });
    if (!complete) throw ClientError(receiver.failure);
    if (receiver.received != asset.size) {
      throw ClientError("the package has " + std::to_string(receiver.received) + " bytes, the feed says " +
                        std::to_string(asset.size));
    }
    const PackageDigests digests = receiver.digests.Final();
    if (digests.sha1 != *LowerHexDigest(*asset.sha1, 40)) throw ClientError("the package SHA1 does not match the feed");
    if (digests.sha256 != *LowerHexDigest(*asset.sha256, 64)) {
      throw ClientError("the package SHA256 does not match the feed");
    }
    os::SyncFile(file.Get(), partialPath);
    os::RenamePath(partialPath, finalPath);
  } catch (const std::exception& error) {
    os::RemoveFile(partialPath);
    throw ClientError(error.what());
  }
  os::SyncFolder(installation.packagesDir);
  progress(100);
}

std::optional<FeedAsset> FindPendingPackage(const Installation& installation) {
  std::optional<std::string> bestName;
  std::optional<std::string> bestVersion;
  for (const std::string& name : os::RegularFilesIn(installation.packagesDir)) {
    const std::optional<std::string> version = VersionOfFullPackage(name, installation.appId);
    if (!version || updater::CompareVersions(*version, installation.version).value_or(0) <= 0) continue;
    if (!bestVersion || updater::CompareVersions(*version, *bestVersion).value_or(0) > 0) {
      bestName = name;
      bestVersion = version;
    }
  }
  if (!bestName) return std::nullopt;

  const std::string path = installation.packagesDir + "/" + *bestName;
  const platform::UniqueFd file = os::OpenRegularFile(path);
  FeedAsset asset;
  asset.packageId = installation.appId;
  asset.version = bestVersion;
  asset.type = "Full";
  asset.fileName = bestName;
  asset.size = os::FileSizeOf(file.Get());
  const PackageDigests digests = DigestsOfFile(file.Get(), path);
  asset.sha1 = digests.sha1;
  asset.sha256 = digests.sha256;
  asset.notesMarkdown = "";
  asset.notesHtml = "";
  if (IsFailedPackage(installation, asset)) return std::nullopt;
  return asset;
}

std::optional<FailedApply> ReadFailedApply(const Installation& installation) {
  const platform::ReadFileResult file = platform::ReadWholeFile(installation.packagesDir + "/" + kFailedApplyName);
  if (file.status != platform::ReadStatus::Ok) return std::nullopt;
  return ParseFailedApply(file.data);
}

bool IsFailedPackage(const Installation& installation, const FeedAsset& asset) {
  if (!asset.version || !asset.sha256) return false;
  const std::optional<FailedApply> failed = ReadFailedApply(installation);
  return failed && failed->version == *asset.version && LowerHexDigest(*asset.sha256, 64) == failed->sha256;
}

}  // namespace VirelantDesktop::update_client
