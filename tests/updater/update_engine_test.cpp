#include "updater/update_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/updater/fake_backend.h"
#include "updater/update_grammar.h"
#include "updater/update_rules.h"

namespace TalvekUpdater {
namespace {

namespace fs = std::filesystem;
using VirelantDesktop::testing::ReadTextFile;
using VirelantDesktop::testing::TempDir;
using VirelantDesktop::testing::WriteTextFile;
using VirelantDesktop::updater::BuildGateText;
using VirelantDesktop::updater::ParseTimestampMs;
using VirelantDesktop::updater::testing::FakeBackend;
using VirelantDesktop::updater::testing::ManifestFields;
using VirelantDesktop::updater::testing::TestKeyPair;

const TestKeyPair& Key() {
  static const TestKeyPair key(2048);
  return key;
}
const TestKeyPair& OtherKey() {
  static const TestKeyPair key(2048);
  return key;
}

class MemoryStore final : public IssuedAtStore {
 public:
  LoadResult Load(int64_t& value) override {
    if (!stored) return LoadResult::Absent;
    value = *stored;
    return LoadResult::Found;
  }
  bool Save(int64_t value) override {
    if (failSave) return false;
    stored = value;
    return true;
  }
  std::optional<int64_t> stored;
  bool failSave = false;
};

class UpdateEngineTest : public ::testing::Test {
 protected:
  UpdateEngineTest() {
    backend_->Offer("package bytes of 0.2.2", Key(), "test-key");
    EngineParts parts;
    parts.backend = backend_;
    parts.verifier = TestVerifier();
    parts.engineStop = [this] {
      backend_->Record("stop");
      return stopReason_;
    };
    parts.afterApply = [this] { backend_->Record("after"); };
    parts.policy = Policy();
    parts.store = store_;
    engine_ = std::make_unique<UpdaterEngine>(std::move(parts));
  }
  UpdatePolicy Policy() { return {"production", "linux-x64", [this] { return now_; }, nullptr}; }
  static SignatureVerifier TestVerifier() {
    return VirelantDesktop::updater::MakeVerifier({{"test-key", "rsa-sha256", Key().spki}});
  }

  // The stage and code of the failure `operation` throws ("" when none).
  template <class Op>
  static std::string FailureOf(Op operation) {
    try {
      operation();
    } catch (const UpdaterFail& failure) {
      return failure.stage + "/" + failure.code;
    }
    return "";
  }
  std::string CheckFailure() { return FailureOf([&] { engine_->Check(); }); }
  std::string DownloadFailure() { return FailureOf([&] { engine_->Download([](int) {}); }); }
  std::string ApplyFailure() { return FailureOf([&] { engine_->Apply(); }); }
  void Offer(ManifestFields fields, const TestKeyPair& key = Key()) {
    backend_->Offer(backend_->packageBytes, key, "test-key", fields);
  }
  void CheckAndDownload() {
    ASSERT_TRUE(engine_->Check());
    ASSERT_EQ(engine_->Download([](int) {}), backend_->feed.targetFull.sha256);
  }
  bool Exists(const std::string& name) const { return fs::exists(dir_.Join("packages/" + name)); }
  bool CopiesExist() const { return Exists(kGateFile) || Exists(kManifestCopyFile) || Exists(kSignatureCopyFile); }

  TempDir dir_;
  std::shared_ptr<FakeBackend> backend_ = std::make_shared<FakeBackend>(dir_.Join("packages"));
  std::shared_ptr<MemoryStore> store_ = std::make_shared<MemoryStore>();
  int64_t now_ = *ParseTimestampMs("2026-12-08T12:00:00Z");
  std::string stopReason_ = "quit";
  std::unique_ptr<UpdaterEngine> engine_;
};

TEST_F(UpdateEngineTest, CheckReturnsTheVerifiedOfferAndRecordsItsIssueTime) {
  backend_->feed.targetFull.sha256 = VirelantDesktop::updater::testing::HexOf("package bytes of 0.2.2");
  for (char& c : backend_->feed.targetFull.sha256) c = static_cast<char>(std::toupper(c));
  backend_->feed.deltas = {{"0.2.2", "talvek-0.2.2-delta.nupkg", "ABC", "Delta", 10}};
  backend_->assets["pause.json"] = R"({"paused":false})";
  const auto outcome = engine_->Check();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->manifestB64,
            VirelantDesktop::platform::Base64Encode(std::string_view(backend_->assets["manifest.json"])));
  EXPECT_EQ(outcome->sig, backend_->assets["manifest.sig"]);
  EXPECT_EQ(outcome->nativeKeyId, "test-key");
  EXPECT_EQ(outcome->feedVersion, "0.2.2");
  EXPECT_EQ(outcome->feedSha256, backend_->feed.targetFull.sha256) << "as in the feed";
  ASSERT_EQ(outcome->deltas.size(), 1u);
  EXPECT_EQ(outcome->deltas[0].file, "talvek-0.2.2-delta.nupkg");
  EXPECT_EQ(outcome->pauseJson, R"({"paused":false})");
  EXPECT_EQ(store_->stored, ParseTimestampMs("2026-12-01T00:00:00Z"));
  // An upper-case feed digest still matches the manifest's.
  EXPECT_EQ(engine_->Download([](int) {}), VirelantDesktop::updater::testing::HexOf("package bytes of 0.2.2"));

  backend_->feed.updateAvailable = false;
  EXPECT_FALSE(engine_->Check());
  EXPECT_FALSE(engine_->Pending()) << "a new check forgets the last one";
  EXPECT_EQ(DownloadFailure(), "check/no_check_yet");
}

TEST_F(UpdateEngineTest, CheckRefusesWhatIsNotSignedOrFailsThePolicy) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* failure;
  };
  const std::vector<Case> cases = {
      {"no manifest", [&] { backend_->assets.erase("manifest.json"); }, "check/manifest_or_sig_missing"},
      {"no signature", [&] { backend_->assets.erase("manifest.sig"); }, "check/manifest_or_sig_missing"},
      {"other key", [&] { Offer({}, OtherKey()); }, "verify/native_signature"},
      {"bytes changed after signing", [&] { backend_->assets["manifest.json"] += " "; }, "verify/native_signature"},
      {"unparsable", [&] { Offer({.sha256 = "abc"}); }, "verify/manifest_unparsable"},
      {"older", [&] { Offer({.version = "0.2.0", .file = "talvek-0.2.0-full.nupkg"}); }, "verify/not_newer"},
      {"same", [&] { Offer({.version = "0.2.1"}); }, "verify/not_newer"},
      {"expired", [&] { Offer({.expiresAt = "2026-12-08T12:00:00Z"}); }, "verify/expired"},
      {"other channel", [&] { Offer({.channel = "beta"}); }, "verify/wrong_channel"},
      {"other os", [&] { Offer({.os = "win-x64"}); }, "verify/wrong_os"},
      {"replayed", [&] { store_->stored = *ParseTimestampMs("2026-12-02T00:00:00Z"); }, "verify/replay"},
      {"store unwritable", [&] { store_->failSave = true; }, "verify/replay_store"},
      {"feed down", [&] { backend_->checkFails = true; }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend_->Offer("package bytes of 0.2.2", Key(), "test-key");
    store_->stored.reset();
    store_->failSave = false;
    backend_->checkFails = false;
    c.arrange();
    if (*c.failure == '\0') {
      EXPECT_THROW(engine_->Check(), std::runtime_error);
    } else {
      EXPECT_EQ(CheckFailure(), c.failure);
    }
    EXPECT_FALSE(engine_->Pending());
  }
}

TEST_F(UpdateEngineTest, CheckFailsWhenTheVerifierThrowsOrNamesNoKey) {
  for (SignatureVerifier verifier : std::vector<SignatureVerifier>{
           [](std::string_view, std::string_view) -> SigVerdict { throw std::runtime_error("x"); },
           [](std::string_view, std::string_view) { return SigVerdict{true, ""}; }, nullptr}) {
    UpdaterEngine engine({backend_, verifier, {}, {}, Policy(), {}});
    EXPECT_EQ(FailureOf([&] { engine.Check(); }), "verify/native_signature");
  }
}

TEST_F(UpdateEngineTest, DownloadRefusesAFeedEntryThatDisagreesWithTheManifest) {
  struct Case {
    const char* name;
    std::function<void(FeedRelease&)> lie;
    const char* failure;
  };
  const std::vector<Case> cases = {
      {"path in the name", [](FeedRelease& f) { f.fileName = "../talvek-0.2.2-full.nupkg"; }, "verify/bad_feed_name"},
      {"control character", [](FeedRelease& f) { f.fileName = "a\nb"; }, "verify/bad_feed_name"},
      {"bad version name", [](FeedRelease& f) { f.version = "0.2.2 final"; }, "verify/bad_feed_name"},
      {"other digest", [](FeedRelease& f) { f.sha256 = std::string(64, 'c'); }, "verify/feed_vs_manifest"},
      {"other version", [](FeedRelease& f) { f.version = "0.2.3"; }, "verify/feed_vs_manifest"},
      {"other file", [](FeedRelease& f) { f.fileName = "talvek-0.2.2-x-full.nupkg"; }, "verify/file_name_vs_manifest"},
      {"no room", [](FeedRelease& f) { f.size = UINT64_MAX / 2; }, "disk/free_space"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend_->Offer("package bytes of 0.2.2", Key(), "test-key");
    c.lie(backend_->feed.targetFull);
    ASSERT_TRUE(engine_->Check());
    EXPECT_EQ(DownloadFailure(), c.failure);
    backend_->feed.targetFull = {"0.2.2", "talvek-0.2.2-full.nupkg", "", "Full", 1000};
  }
  EXPECT_EQ(std::count(backend_->calls.begin(), backend_->calls.end(), "download"), 0) << "nothing was downloaded";
}

TEST_F(UpdateEngineTest, DownloadKeepsTheGateOnlyForTheSignedBytes) {
  std::vector<int> progress;
  ASSERT_TRUE(engine_->Check());
  const std::string digest = engine_->Download([&](int pct) { progress.push_back(pct); });
  EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(ReadTextFile(dir_.Join("packages/talvek-gate.txt")),
            "talvek-gate-v1\n0.2.2\ntalvek-0.2.2-full.nupkg\n" + digest + "\n");
  EXPECT_EQ(ReadTextFile(dir_.Join("packages/talvek-manifest.json")), backend_->assets["manifest.json"]);
  EXPECT_EQ(ReadTextFile(dir_.Join("packages/talvek-manifest.sig")), backend_->assets["manifest.sig"]);

  // A failed download leaves no copies behind, and the record for a retry.
  backend_->downloadFails = true;
  EXPECT_EQ(DownloadFailure(), "download/");
  EXPECT_FALSE(CopiesExist());
  EXPECT_TRUE(engine_->Pending());

  // The feed served other bytes than the manifest signed.
  backend_->downloadFails = false;
  backend_->packageBytes = "tampered";
  EXPECT_EQ(DownloadFailure(), "verify/result_hash_mismatch");
  EXPECT_FALSE(Exists("talvek-0.2.2-full.nupkg"));
  EXPECT_FALSE(CopiesExist());

  // The package never arrived.
  backend_->packageBytes = "package bytes of 0.2.2";
  backend_->writePackage = false;
  EXPECT_EQ(DownloadFailure(), "download/cannot_read_result");
}

TEST_F(UpdateEngineTest, ApplyStopsTheEngineThenHandsOverTheGatedPackage) {
  CheckAndDownload();
  // Apply works from the files alone, as after a restart between download and apply.
  UpdaterEngine restarted({backend_, TestVerifier(), {}, [this] { backend_->Record("after"); }, Policy(), store_});
  backend_->calls.clear();
  restarted.Apply();
  EXPECT_EQ(backend_->Calls(),
            (std::vector<std::string>{"pending", "apply 0.2.2 talvek-0.2.2-full.nupkg", "after"}))
      << "no engine stop function: nothing to stop";
  engine_->Apply();  // the fixture's engine stops the engine first
  EXPECT_EQ(backend_->Calls().at(backend_->Calls().size() - 3), "stop");
  // A library failure while handing over is a failed apply, not a failed check.
  backend_->applyFails = true;
  EXPECT_EQ(ApplyFailure(), "apply/");
}

TEST_F(UpdateEngineTest, ApplyRefusesAnythingThatChangedSinceTheDownload) {
  struct Case {
    const char* name;
    std::function<void()> change;
    const char* failure;
    bool forgetsDownload;
  };
  const std::string gatePath = dir_.Join("packages/talvek-gate.txt");
  const std::vector<Case> cases = {
      {"gate deleted", [&] { fs::remove(gatePath); }, "verify/no_gate_record", false},
      {"gate garbled", [&] { WriteTextFile(gatePath, "talvek-gate-v1\n0.2.2\n"); }, "verify/no_gate_record", false},
      {"gate edited by hand",
       [&] {
         WriteTextFile(gatePath, "talvek-gate-v1\n0.2.2\ntalvek-0.2.2-full.nupkg\n" + std::string(64, 'e') + "\n");
       },
       "verify/native_signature_at_apply", true},
      {"signature copy lost", [&] { fs::remove(dir_.Join("packages/talvek-manifest.sig")); },
       "verify/native_signature_at_apply", true},
      {"manifest copy edited", [&] { WriteTextFile(dir_.Join("packages/talvek-manifest.json"), "{}"); },
       "verify/native_signature_at_apply", true},
      {"expired since", [&] { now_ = *ParseTimestampMs("2027-01-02T00:00:00Z"); }, "verify/policy_at_apply:expired",
       true},
      {"newer manifest accepted since", [&] { store_->stored = *ParseTimestampMs("2026-12-05T00:00:00Z"); },
       "verify/policy_at_apply:replay", true},
      {"nothing pending", [&] { backend_->pending.reset(); }, "verify/pending_vs_gate", true},
      {"package changed", [&] { WriteTextFile(backend_->PackagePath(), "swapped after the gate"); },
       "verify/hash_changed_after_gate", true},
      {"engine still alive", [&] { stopReason_ = "alive"; }, "apply/engine_stop_unknown", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    now_ = *ParseTimestampMs("2026-12-08T12:00:00Z");
    store_->stored.reset();
    stopReason_ = "quit";
    CheckAndDownload();
    backend_->calls.clear();
    c.change();
    EXPECT_EQ(ApplyFailure(), c.failure);
    const auto calls = backend_->Calls();
    EXPECT_TRUE(std::none_of(calls.begin(), calls.end(), [](const std::string& s) { return s.starts_with("apply"); }));
    if (c.forgetsDownload) {
      EXPECT_FALSE(CopiesExist());
      EXPECT_FALSE(Exists("talvek-0.2.2-full.nupkg"));
    }
  }
}

TEST_F(UpdateEngineTest, ApplyOfTheRunningVersionAndStalePendingPackages) {
  CheckAndDownload();
  // Another pending version is cleaned away; the gate's is then missing.
  WriteTextFile(dir_.Join("packages/talvek-0.2.0-full.nupkg"), "old");
  backend_->pending = FeedRelease{"0.2.0", "talvek-0.2.0-full.nupkg", "", "Full", 3};
  EXPECT_EQ(ApplyFailure(), "verify/pending_vs_gate");
  EXPECT_FALSE(Exists("talvek-0.2.0-full.nupkg"));

  CheckAndDownload();
  backend_->running = "0.2.2";  // the update already runs
  EXPECT_EQ(ApplyFailure(), "apply/same_version");
  EXPECT_FALSE(CopiesExist());
  EXPECT_TRUE(Exists("talvek-0.2.2-full.nupkg")) << "the running version's package stays";
}

TEST_F(UpdateEngineTest, DiscardRemovesTheGatedVersionAndForgetsTheCheck) {
  CheckAndDownload();
  WriteTextFile(dir_.Join("packages/talvek-0.2.2-delta.nupkg.partial"), "x");
  WriteTextFile(dir_.Join("packages/talvek-0.2.1-full.nupkg"), "running");
  engine_->Discard();
  EXPECT_FALSE(Exists("talvek-0.2.2-full.nupkg"));
  EXPECT_FALSE(Exists("talvek-0.2.2-delta.nupkg.partial"));
  EXPECT_TRUE(Exists("talvek-0.2.1-full.nupkg"));
  EXPECT_FALSE(CopiesExist());
  EXPECT_EQ(DownloadFailure(), "check/no_check_yet");
}

TEST(UpdateRules, PackageFilesOfAVersion) {
  const struct {
    const char* name;
    bool matches;
  } cases[] = {
      {"App-1.2.3-full.nupkg", true},         {"App-1.2.3-delta.nupkg", true},
      {"App-1.2.3-delta.nupkg.partial", true}, {"App-1.2.3-linux-full.nupkg", true},
      {"My-App-1.2.3-full.nupkg", false},     {"App-1.2.30-full.nupkg", false},
      {"App-1.2.3-a-b-full.nupkg", false},    {"App-1.2.3-full.zip", false},
      {"App-1.2.3.nupkg", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPackageFileOfVersion(c.name, "1.2.3"), c.matches) << c.name;
}

TEST(UpdateRules, RoomForThreeCopies) {
  EXPECT_TRUE(HasRoomForPackage(0, 0));
  EXPECT_FALSE(HasRoomForPackage(400'000'000, 1'000'000'000));
  EXPECT_TRUE(HasRoomForPackage(400'000'000, 1'200'000'000));
  EXPECT_FALSE(HasRoomForPackage(UINT64_MAX / 3 + 1, UINT64_MAX));
  EXPECT_TRUE(IsEngineStopped("not_running"));
  EXPECT_FALSE(IsEngineStopped("alive"));
  EXPECT_FALSE(IsEngineStopped(""));
}

TEST(UpdateRules, CleanUpNeverFollowsALinkOrTouchesTheProtectedVersion) {
  TempDir dir;
  fs::create_directories(dir.Join("real"));
  WriteTextFile(dir.Join("real/App-1.2.3-full.nupkg"), "x");
  fs::create_directory_symlink(dir.Join("real"), dir.Join("link"));
  RemovePackageFiles(dir.Join("link"), "1.2.3", "0.1.0");
  RemovePackageFiles(dir.Join("real"), "1.2.3", "1.2.3");
  RemovePackageFiles(dir.Join("real"), "../1.2.3", "0.1.0");
  EXPECT_TRUE(fs::exists(dir.Join("real/App-1.2.3-full.nupkg")));
  RemovePackageFiles(dir.Join("real"), "1.2.3", "0.1.0");
  EXPECT_FALSE(fs::exists(dir.Join("real/App-1.2.3-full.nupkg")));
  EXPECT_TRUE(FreeSpaceAt(dir.Join("not/made/yet")).has_value());
}

TEST(UpdateRules, PackageFileVersionReadsOnlyPackageNames) {
  EXPECT_EQ(PackageFileVersion("talvek-1.2.3-full.nupkg"), "1.2.3");
  EXPECT_EQ(PackageFileVersion("talvek-1.2.3-beta.1-delta.nupkg"), "1.2.3-beta.1");
  EXPECT_EQ(PackageFileVersion("talvek-1.2.3-full.nupkg.partial"), "1.2.3");
  for (const char* name : {"talvek-gate.txt", "talvek-manifest.json", "apply.log", "talvek-full.nupkg",
                           "talvek-1.2.3.nupkg", "talvek-../x-full.nupkg"}) {
    EXPECT_EQ(PackageFileVersion(name), std::nullopt) << name;
  }
}

// After an update to 0.2.2: what 0.2.2 no longer needs goes, its own full
// package and anything newer stay.
TEST(UpdateRules, StartUpCleanUpKeepsWhatTheRunningVersionStillNeeds) {
  TempDir dir;
  const auto put = [&](const std::string& name) { WriteTextFile(dir.Join(name), "x"); };
  const auto gate = [&](const std::string& version) {
    WriteTextFile(dir.Join(kGateFile), BuildGateText({version, "talvek-" + version + "-full.nupkg", std::string(64, 'a')}));
    put(kManifestCopyFile);
    put(kSignatureCopyFile);
  };
  const auto copiesKept = [&] {
    return fs::exists(dir.Join(kGateFile)) && fs::exists(dir.Join(kManifestCopyFile)) &&
           fs::exists(dir.Join(kSignatureCopyFile));
  };
  const auto noCopies = [&] {
    return !fs::exists(dir.Join(kGateFile)) && !fs::exists(dir.Join(kManifestCopyFile)) &&
           !fs::exists(dir.Join(kSignatureCopyFile));
  };
  for (const char* name : {"talvek-0.2.0-full.nupkg", "talvek-0.2.1-full.nupkg", "talvek-0.2.1-full.nupkg.partial",
                           "talvek-0.2.2-full.nupkg", "talvek-0.3.0-full.nupkg", "talvek-0.3.1-full.nupkg.partial",
                           "apply.log", "notes-0.1.0.txt", "My-App-0.1.0-full.nupkg"}) {
    put(name);
  }
  gate("0.2.2");  // the update just applied
  CleanUpPackagesAtStart(dir.path(), "0.2.2");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  // ("My-App-0.1.0-full.nupkg" is version "App-0.1.0" of "My": not older.)
  EXPECT_EQ(left, (std::vector<std::string>{"My-App-0.1.0-full.nupkg", "apply.log", "notes-0.1.0.txt",
                                            "talvek-0.2.2-full.nupkg",
                                            "talvek-0.3.0-full.nupkg", "talvek-0.3.1-full.nupkg.partial"}));

  gate("0.3.0");  // downloaded, waiting for its apply
  CleanUpPackagesAtStart(dir.path(), "0.2.2");
  EXPECT_TRUE(copiesKept());
  fs::remove(dir.Join("talvek-0.3.0-full.nupkg"));  // its apply failed
  CleanUpPackagesAtStart(dir.path(), "0.2.2");
  EXPECT_TRUE(noCopies());

  WriteTextFile(dir.Join(kGateFile), "not a gate");  // left for the engine
  CleanUpPackagesAtStart(dir.path(), "0.2.2");
  EXPECT_TRUE(fs::exists(dir.Join(kGateFile)));
  CleanUpPackagesAtStart(dir.path(), "");  // an unknown running version removes nothing
  EXPECT_TRUE(fs::exists(dir.Join("talvek-0.2.2-full.nupkg")));
  CleanUpPackagesAtStart(dir.Join("missing"), "0.2.2");
}

}  // namespace
}  // namespace TalvekUpdater
