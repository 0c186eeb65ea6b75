#include "updater/update_engine.h"

#include <set>

#include "platform/base64.h"
#include "platform/confined_tree.h"
#include "platform/free_space.h"
#include "platform/read_file.h"
#include "updater/sha256.h"
#include "updater/update_grammar.h"
#include "updater/update_rules.h"

namespace TalvekUpdater {
namespace {

using VirelantDesktop::updater::BuildGateText;
using VirelantDesktop::updater::EvaluatePolicy;
using VirelantDesktop::updater::GateRecord;
using VirelantDesktop::updater::IsVersionName;
using VirelantDesktop::updater::ParseGateText;
using VirelantDesktop::updater::ReadManifest;
using VirelantDesktop::updater::RecordAcceptedIssuedAt;
using VirelantDesktop::updater::Sha256Hex;
using VirelantDesktop::updater::Sha256OfFile;
using VirelantDesktop::updater::WriteFileAtomically;
namespace platform = VirelantDesktop::platform;

std::optional<std::string> ReadText(const std::string& path) {
  platform::ReadFileResult read = platform::ReadWholeFile(path);
  if (read.status != platform::ReadStatus::Ok) return std::nullopt;
  return std::move(read.data);
}

std::optional<std::string> DigestOf(const std::string& path) {
  const auto digest = Sha256OfFile(path);
  if (!digest) return std::nullopt;
  return Sha256Hex(*digest);
}

void RemoveCopies(const std::string& dir) {
  for (const char* name : {kGateFile, kManifestCopyFile, kSignatureCopyFile}) platform::RemovePath(dir + "/" + name);
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void RemovePackageFiles(const std::string& dir, const std::string& version, const std::string& protectedVersion) {
  if (!IsVersionName(version) || version == protectedVersion) return;
  try {
    const platform::UniqueFd folder = platform::OpenFolderNoFollow(dir);
    if (!folder) return;
    for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
      if (IsPackageFileOfVersion(entry.name, version)) platform::RemoveEntryAt(folder, entry.name);
    }
  } catch (...) {
  }
}

void CleanUpPackagesAtStart(const std::string& dir, const std::string& running) {
  if (!IsVersionName(running)) return;
  try {
    std::set<std::string> older;
    {
      const platform::UniqueFd folder = platform::OpenFolderNoFollow(dir);
      if (!folder) return;
      for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
        const std::optional<std::string> version = PackageFileVersion(entry.name);
        if (version && VirelantDesktop::updater::CompareVersions(*version, running).value_or(0) < 0) {
          older.insert(*version);
        }
      }
    }
    for (const std::string& version : older) RemovePackageFiles(dir, version, running);

    const auto gateText = ReadText(dir + "/" + kGateFile);
    const auto gate = gateText ? ParseGateText(*gateText) : std::nullopt;
    if (!gate) return;
    const bool newer = VirelantDesktop::updater::CompareVersions(gate->version, running).value_or(0) > 0;
    if (!newer || platform::EntryTypeOf(dir + "/" + gate->file) != platform::EntryType::File) RemoveCopies(dir);
  } catch (...) {
  }
}

std::optional<uint64_t> FreeSpaceAt(const std::string& dir) {
  std::string path = dir;
  while (!path.empty()) {
    if (const auto space = platform::FreeSpaceForCaller(path)) return space;
    if (platform::EntryTypeOf(path) != platform::EntryType::Missing) return std::nullopt;
    const std::string parent = ParentOf(path);
    if (parent == path) break;
    path = parent;
  }
  return std::nullopt;
}

UpdaterEngine::UpdaterEngine(EngineParts parts)
    : backend_(std::move(parts.backend)),
      verifier_(std::move(parts.verifier)),
      engineStop_(std::move(parts.engineStop)),
      afterApply_(std::move(parts.afterApply)),
      store_(std::move(parts.store)),
      policy_(std::move(parts.policy)) {
  if (!backend_) throw std::invalid_argument("UpdaterEngine needs a backend");
  if (!verifier_) verifier_ = [](std::string_view, std::string_view) { return SigVerdict{}; };
  if (store_) policy_.store = store_.get();
}

std::optional<PendingRecord> UpdaterEngine::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

SigVerdict UpdaterEngine::Verify(const std::string& manifest, const std::string& signature) const {
  try {
    return verifier_(manifest, signature);
  } catch (...) {
    return SigVerdict{};
  }
}

void UpdaterEngine::RemovePackagesOf(const std::string& dir, const std::string& version) const {
  RemovePackageFiles(dir, version, backend_->CurrentVersion());
}

std::optional<CheckOutcome> UpdaterEngine::Check() {
  std::lock_guard lock(mutex_);
  pending_.reset();
  FeedCheck feed = backend_->CheckFeed();
  if (!feed.updateAvailable) return std::nullopt;

  // The manifest and its signature come from the feed too: nothing about
  // them is trusted until the signature verifies.
  std::optional<std::string> manifestText = backend_->ReadAsset("manifest.json");
  std::optional<std::string> signatureText = backend_->ReadAsset("manifest.sig");
  if (!manifestText || !signatureText) throw UpdaterFail(kStageCheck, "manifest_or_sig_missing");

  const SigVerdict verdict = Verify(*manifestText, *signatureText);
  if (!verdict.ok || verdict.keyId.empty()) throw UpdaterFail(kStageVerify, "native_signature");
  auto manifest = ReadManifest(*manifestText);
  if (!manifest) throw UpdaterFail(kStageVerify, "manifest_unparsable");

  const std::string running = backend_->CurrentVersion();
  int64_t issuedAt = 0;
  const std::string refusal = EvaluatePolicy(*manifestText, policy_, running, issuedAt);
  if (!refusal.empty()) throw UpdaterFail(kStageVerify, refusal);
  if (!RecordAcceptedIssuedAt(policy_, issuedAt)) throw UpdaterFail(kStageVerify, "replay_store");

  std::optional<std::string> pause = backend_->ReadAsset("pause.json");

  CheckOutcome outcome;
  outcome.manifestB64 = platform::Base64Encode(std::string_view(*manifestText));
  outcome.sig = *signatureText;
  outcome.nativeKeyId = verdict.keyId;
  outcome.feedVersion = feed.targetFull.version;
  outcome.feedSha256 = feed.targetFull.sha256;
  for (const FeedRelease& delta : feed.deltas) outcome.deltas.push_back({delta.fileName, delta.sha256});
  outcome.pauseJson = std::move(pause);

  pending_ = PendingRecord{std::move(*manifest), std::move(feed.targetFull), std::move(*manifestText),
                           std::move(*signatureText)};
  return outcome;
}

std::string UpdaterEngine::Download(const ProgressFn& progress) {
  std::lock_guard lock(mutex_);
  if (!pending_) throw UpdaterFail(kStageCheck, "no_check_yet");
  const PendingRecord pending = *pending_;
  if (auto mismatch = CheckFeedAgainstManifest(pending.feed, pending.manifest)) throw *mismatch;

  const std::string dir = backend_->PackagesDir();
  if (pending.feed.size != 0) {
    const auto available = FreeSpaceAt(dir);
    if (available && !HasRoomForPackage(pending.feed.size, *available)) throw UpdaterFail(kStageDisk, "free_space");
  }

  // A download replaces whatever an earlier one left for apply.
  RemoveCopies(dir);
  backend_->DownloadFull(progress);

  const auto digest = DigestOf(PackageFile(dir, pending.feed.fileName));
  if (!digest) throw UpdaterFail(kStageDownload, "cannot_read_result");
  if (*digest != pending.manifest.sha256) {
    RemovePackagesOf(dir, pending.feed.version);
    throw UpdaterFail(kStageVerify, "result_hash_mismatch");
  }

  const bool written =
      WriteFileAtomically(PackageFile(dir, kManifestCopyFile), pending.manifestText) &&
      WriteFileAtomically(PackageFile(dir, kSignatureCopyFile), pending.signatureText) &&
      WriteFileAtomically(PackageFile(dir, kGateFile),
                          BuildGateText(GateRecord{pending.feed.version, pending.feed.fileName, *digest}));
  if (!written) {
    RemoveCopies(dir);
    throw UpdaterFail(kStageDisk, "");
  }
  return *digest;
}

void UpdaterEngine::Apply() {
  std::lock_guard lock(mutex_);
  const std::string dir = backend_->PackagesDir();
  const std::string running = backend_->CurrentVersion();

  const auto gateText = ReadText(PackageFile(dir, kGateFile));
  const auto gate = gateText ? ParseGateText(*gateText) : std::nullopt;
  if (!gate) throw UpdaterFail(kStageVerify, "no_gate_record");

  // Refuses what the gate names, and forgets it.
  const auto refuse = [&](const char* stage, const std::string& code) {
    RemovePackageFiles(dir, gate->version, running);
    RemoveCopies(dir);
    return UpdaterFail(stage, code);
  };

  const auto manifestText = ReadText(PackageFile(dir, kManifestCopyFile));
  const auto signatureText = ReadText(PackageFile(dir, kSignatureCopyFile));
  bool trusted = false;
  if (manifestText && signatureText) {
    const SigVerdict verdict = Verify(*manifestText, *signatureText);
    const auto manifest = verdict.ok && !verdict.keyId.empty() ? ReadManifest(*manifestText) : std::nullopt;
    trusted = manifest && ManifestMatchesGate(*manifest, *gate);
  }
  if (!trusted) throw refuse(kStageVerify, "native_signature_at_apply");

  if (gate->version == running) {
    RemoveCopies(dir);
    throw UpdaterFail(kStageApply, "same_version");
  }

  // The policy again: the manifest may have expired, or a newer one been
  // accepted, since the download. Nothing is recorded here.
  int64_t issuedAt = 0;
  const std::string refusal = EvaluatePolicy(*manifestText, policy_, running, issuedAt);
  if (!refusal.empty()) throw refuse(kStageVerify, "policy_at_apply:" + refusal);

  const std::optional<FeedRelease> waiting = backend_->PendingRestart();
  if (waiting && waiting->version != gate->version && waiting->version != running) {
    RemovePackageFiles(dir, waiting->version, running);
  }
  if (!waiting || waiting->version != gate->version || waiting->fileName != gate->file) {
    throw refuse(kStageVerify, "pending_vs_gate");
  }

  const auto digest = DigestOf(PackageFile(dir, gate->file));
  if (!digest || *digest != gate->sha256) throw refuse(kStageVerify, "hash_changed_after_gate");

  std::string reason = "not_running";
  if (engineStop_) {
    try {
      reason = engineStop_();
    } catch (...) {
      reason.clear();
    }
  }
  if (!IsEngineStopped(reason)) throw UpdaterFail(kStageApply, "engine_stop_unknown");

  // The library's own failure text is for diagnostics; to the caller it is a
  // failed apply (left as it was, it would read as a failed check).
  try {
    backend_->ApplyPending(gate->version, gate->file);
  } catch (const UpdaterFail&) {
    throw;
  } catch (...) {
    throw UpdaterFail(kStageApply, "");
  }
  if (afterApply_) afterApply_();
}

void UpdaterEngine::Discard() {
  std::lock_guard lock(mutex_);
  const std::string dir = backend_->PackagesDir();
  std::string version = pending_ ? pending_->feed.version : std::string();
  if (const auto gateText = ReadText(PackageFile(dir, kGateFile))) {
    if (const auto gate = ParseGateText(*gateText)) version = gate->version;
  }
  if (IsVersionName(version)) RemovePackageFiles(dir, version, backend_->CurrentVersion());
  RemoveCopies(dir);
  pending_.reset();
}

}  // namespace TalvekUpdater
