#include "updater/client/package_files.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/file_writer.h"
#include "platform/read_file.h"
#include "updater/client/block_pipeline.h"
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

// One digest of a stream, lower-case hex at the end.
class Digest {
 public:
  explicit Digest(const EVP_MD* md) : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), md, nullptr) != 1) {
      throw ClientError("cannot start the package digests");
    }
  }
  void Update(const void* data, size_t size) {
    if (EVP_DigestUpdate(context_.get(), data, size) != 1) throw ClientError("cannot digest the package");
  }
  std::string FinalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) throw ClientError("cannot digest the package");
    return Hex(digest, length);
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> context_;
};

// The package as it arrives: the file write, its SHA-1 and its SHA-256 each
// run on a thread of their own beside the receiving thread (together they
// cost more than receiving does), fed through a ring of blocks. The partial
// file is flushed to the disk as it grows, so the flush at the end finds its
// last part only.
class PackageSink {
 public:
  PackageSink(int fd, const std::string& path)
      : fd_(fd),
        path_(path),
        flush_(fd),
        pipeline_({[this](const char* data, size_t size) { Write(data, size); },
                   [this](const char* data, size_t size) { sha1_.Update(data, size); },
                   [this](const char* data, size_t size) { sha256_.Update(data, size); }},
                  kPipelineBlockBytes, kPipelineBlocks) {}

  // False when the write or a digest failed (see Failure()).
  bool Take(const char* data, size_t size) { return pipeline_.Push(data, size); }
  // Waits until everything taken is written and digested; throws on failure.
  PackageDigests Finish() {
    if (!pipeline_.Finish()) throw ClientError(pipeline_.Failure());
    return PackageDigests{sha1_.FinalHex(), sha256_.FinalHex()};
  }
  // After Finish: flushes the file to the disk; throws on failure.
  void Flush() {
    const int stepError = flush_.Stop();
    os::SyncFile(fd_, path_);
    if (stepError != 0) throw os::OsError("cannot flush", path_, stepError);
  }
  std::string Failure() const { return pipeline_.Failure(); }

 private:
  static constexpr size_t kPipelineBlockBytes = size_t{512} << 10;
  static constexpr size_t kPipelineBlocks = 8;

  void Write(const char* data, size_t size) {
    os::WriteAll(fd_, data, size, path_);
    written_ += size;
    flush_.Written(written_);
  }

  const int fd_;
  const std::string path_;
  Digest sha1_{EVP_sha1()};
  Digest sha256_{EVP_sha256()};
  uint64_t written_ = 0;             // the writing thread's own
  platform::BackgroundFlush flush_;  // used by the writing thread, then by Flush
  BlockPipeline pipeline_;           // last: its threads stop before the rest goes
};

// The state of one download while libcurl feeds it. Nothing may throw
// through libcurl, so a failure is kept here and the transfer stopped.
struct Receiver {
  uint64_t expected = 0;
  uint64_t received = 0;
  size_t lastPercent = 0;
  PackageSink* sink = nullptr;
  const std::function<void(size_t)>* progress = nullptr;
  std::string failure;

  bool Take(const char* data, size_t size) {
    try {
      if (size > expected - received) {
        failure = "the package is larger than the feed says (" + std::to_string(expected) + " bytes)";
        return false;
      }
      if (!sink->Take(data, size)) {
        failure = sink->Failure();
        return false;
      }
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
  Digest sha1(EVP_sha1());
  Digest sha256(EVP_sha256());
  std::vector<char> block(kReadBlockBytes);
  while (const size_t got = os::ReadSome(fd, block.data(), block.size(), path)) {
    sha1.Update(block.data(), got);
    sha256.Update(block.data(), got);
  }
  return PackageDigests{sha1.FinalHex(), sha256.FinalHex()};
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
    PackageSink sink(file.Get(), partialPath);
    Receiver receiver;
    receiver.expected = asset.size;
    receiver.sink = &sink;
    receiver.progress = &progress;
    const bool complete =
        FetchToSink(feedUrl + *asset.fileName, [&](const char* data, size_t size) { return receiver.Take(data, size); });
    if (!complete) throw ClientError(receiver.failure);
    if (receiver.received != asset.size) {
      throw ClientError("the package has " + std::to_string(receiver.received) + " bytes, the feed says " +
                        std::to_string(asset.size));
    }
    const PackageDigests digests = sink.Finish();
    if (digests.sha1 != *LowerHexDigest(*asset.sha1, 40)) throw ClientError("the package SHA1 does not match the feed");
    if (digests.sha256 != *LowerHexDigest(*asset.sha256, 64)) {
      throw ClientError("the package SHA256 does not match the feed");
    }
    sink.Flush();
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
