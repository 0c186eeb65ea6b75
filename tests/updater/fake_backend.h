// An update backend for engine and module tests: a feed in memory and a
// packages folder on disk, with every call recorded.
#pragma once

#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "tests/support/temp_dir.h"
#include "tests/updater/test_key_pair.h"
#include "updater/sha256.h"
#include "updater/update_backend.h"

namespace VirelantDesktop::updater::testing {

inline std::string HexOf(const std::string& bytes) {
  Sha256 digest;
  digest.Update(bytes.data(), bytes.size());
  return Sha256Hex(digest.Final());
}

struct ManifestFields {
  std::string version = "0.2.2";
  std::string file = "talvek-0.2.2-full.nupkg";
  std::string sha256 = "";  // empty: the digest of the offered package
  std::string channel = "production";
  std::string os = "linux-x64";
  std::string issuedAt = "2026-12-01T00:00:00Z";
  std::string expiresAt = "2027-01-01T00:00:00Z";
};

inline std::string ManifestText(const ManifestFields& m) {
  return R"({"version":")" + m.version + R"(","channel":")" + m.channel + R"(","os":")" + m.os +
         R"(","issuedAt":")" + m.issuedAt + R"(","expiresAt":")" + m.expiresAt + R"(","full":{"file":")" + m.file +
         R"(","sha256":")" + m.sha256 + R"("}})";
}

inline std::string SignatureFile(const TestKeyPair& key, const std::string& keyId, const std::string& manifest) {
  return R"([{"keyId":")" + keyId + R"(","sig":")" + platform::Base64Encode(key.Sign(manifest)) + R"("}])";
}

// The private half of the build's development update key; null when the
// build trusts a configured key instead.
inline const TestKeyPair* DevKey() {
#ifdef TALVEK_DEV_SIGNING_KEY
  static const TestKeyPair* key = [] {
    FILE* file = std::fopen(TALVEK_DEV_SIGNING_KEY, "r");
    if (file == nullptr) return static_cast<TestKeyPair*>(nullptr);
    EVP_PKEY* pkey = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    return pkey != nullptr ? new TestKeyPair(pkey) : nullptr;
  }();
  return key;
#else
  return nullptr;
#endif
}

class FakeBackend final : public TalvekUpdater::Backend {
 public:
  explicit FakeBackend(std::string packagesDir) : dir(std::move(packagesDir)) {
    std::filesystem::create_directories(dir);
    feed.updateAvailable = true;
    feed.targetFull = {"0.2.2", "talvek-0.2.2-full.nupkg", "", "Full", 1000};
  }

  // Offers `package` as 0.2.2, with a manifest signed by `key` under `keyId`.
  void Offer(const std::string& package, const TestKeyPair& key, const std::string& keyId,
             ManifestFields fields = {}) {
    packageBytes = package;
    if (fields.sha256.empty()) fields.sha256 = HexOf(package);
    feed.targetFull.sha256 = fields.sha256;
    assets["manifest.json"] = ManifestText(fields);
    assets["manifest.sig"] = SignatureFile(key, keyId, assets["manifest.json"]);
  }
  std::string PackagePath() const { return dir + "/" + feed.targetFull.fileName; }

  TalvekUpdater::FeedCheck CheckFeed() override {
    Record("check");
    if (checkFails) throw std::runtime_error("feed down");
    return feed;
  }
  void DownloadFull(const TalvekUpdater::ProgressFn& progress) override {
    Record("download");
    if (beforeDownload) beforeDownload();
    if (downloadFails) throw TalvekUpdater::UpdaterFail(TalvekUpdater::kStageDownload, "");
    for (int pct : {0, 50, 100}) progress(pct);
    if (writePackage) VirelantDesktop::testing::WriteTextFile(PackagePath(), packageBytes);
    pending = feed.targetFull;
  }
  std::optional<TalvekUpdater::FeedRelease> PendingRestart() override {
    Record("pending");
    return pending;
  }
  void ApplyPending(const std::string& version, const std::string& fileName) override {
    if (applyFails) throw std::runtime_error("apply helper missing");
    Record("apply " + version + " " + fileName);
  }
  std::string PackagesDir() override { return dir; }
  std::string CurrentVersion() override { return running; }
  std::optional<std::string> ReadAsset(const std::string& name) override {
    Record("asset " + name);
    if (assetsThrow) throw std::runtime_error("no network");
    const auto found = assets.find(name);
    if (found == assets.end()) return std::nullopt;
    return found->second;
  }

  void Record(const std::string& call) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }

  std::string dir;
  std::string running = "0.2.1";
  TalvekUpdater::FeedCheck feed;
  std::map<std::string, std::string> assets;
  std::string packageBytes;
  std::optional<TalvekUpdater::FeedRelease> pending;
  std::function<void()> beforeDownload;
  bool checkFails = false;
  bool downloadFails = false;
  bool writePackage = true;
  bool assetsThrow = false;
  bool applyFails = false;
  std::mutex mutex;  // guards calls
  std::vector<std::string> calls;
};

}  // namespace VirelantDesktop::updater::testing
