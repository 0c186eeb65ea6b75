#include "updater/velopack_backend.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

#include "platform/folders.h"

namespace TalvekUpdater {
namespace {

// Longest executable path the package folder is derived from (the
// 520-character path limit).
constexpr size_t kMaxExecutablePath = 520;

std::string RequiredText(const char* value, const char* name) {
  if (value == nullptr) throw std::runtime_error(std::string("Required property ") + name + " was null");
  return value;
}

// A tuc_asset view of our copy, for handing it back to the library; valid
// while `asset` lives and is not changed.
tuc_asset AsClientStruct(ClientAsset& asset) {
  return tuc_asset{asset.packageId.data(), asset.version.data(),  asset.type.data(),
                   asset.fileName.data(),  asset.sha1.data(),     asset.sha256.data(),
                   asset.size,             asset.notesMarkdown.data(), asset.notesHtml.data()};
}

// Progress from inside the library: no exception may cross back into C.
void ForwardProgress(void* userData, size_t percent) {
  const auto* progress = static_cast<const ProgressFn*>(userData);
  if (progress == nullptr || !*progress) return;
  try {
    (*progress)(static_cast<int>(std::min<size_t>(percent, std::numeric_limits<int>::max())));
  } catch (...) {
  }
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

ClientAsset ReadClientAsset(const tuc_asset* asset) {
  if (asset == nullptr) throw std::runtime_error("Expected value not present");
  ClientAsset copy;
  copy.packageId = RequiredText(asset->package_id, "PackageId");
  copy.version = RequiredText(asset->version, "Version");
  copy.type = RequiredText(asset->type, "Type");
  copy.fileName = RequiredText(asset->file_name, "FileName");
  copy.sha1 = RequiredText(asset->sha1, "SHA1");
  copy.sha256 = RequiredText(asset->sha256, "SHA256");
  copy.size = asset->size;
  copy.notesMarkdown = RequiredText(asset->notes_markdown, "NotesMarkdown");
  copy.notesHtml = RequiredText(asset->notes_html, "NotesHtml");
  return copy;
}

std::string InstalledPackagesDir(const std::string& /*appId*/) {
  const auto executable = VirelantDesktop::platform::ExecutablePath();
  if (!executable || executable->size() >= kMaxExecutablePath) throw UpdaterFail(kStageCheck, "");
  const std::string root = ParentOf(ParentOf(*executable));
  return root == "/" ? "/packages" : root + "/packages";
}

VelopackBackend::VelopackBackend(Options options) : options_(std::move(options)) {}

VelopackBackend::~VelopackBackend() {
  if (manager_ == nullptr || !options_.library) return;
  if (const auto freeManager = TUC_FUNCTION(*options_.library, tuc_free_update_manager)) freeManager(manager_);
}

const UpdateClientLibrary& VelopackBackend::Library() const {
  // Checked before every library call, so a missing library is a failure
  // of the call and never ends the process.
  if (!options_.library) throw UpdaterFail(kStageCheck, "velopack_missing");
  return *options_.library;
}

template <class Fn>
Fn VelopackBackend::Require(Fn fn) const {
  if (fn == nullptr) throw UpdaterFail(kStageCheck, "velopack_missing");  // an incomplete library
  return fn;
}

#define TUC_REQUIRE(name) Require(TUC_FUNCTION(Library(), name))

void VelopackBackend::ThrowLastError() const { throw std::runtime_error(Library().LastError()); }

tuc_update_manager* VelopackBackend::Manager() {
  const auto newManager = TUC_REQUIRE(tuc_new_update_manager);
  std::lock_guard lock(mutex_);
  if (manager_ != nullptr) return manager_;
  const tuc_update_options options{/*allow_version_downgrade=*/false, /*explicit_channel=*/nullptr,
                                   /*maximum_deltas_before_fallback=*/-1};
  tuc_update_manager* created = nullptr;
  if (!newManager(options_.feedUrl.c_str(), &options, /*locator=*/nullptr, &created) || created == nullptr) {
    ThrowLastError();
  }
  manager_ = created;
  return manager_;
}

std::string VelopackBackend::ManagerText(size_t (*call)(tuc_update_manager*, char*, size_t)) {
  tuc_update_manager* manager = Manager();
  const size_t length = call(manager, nullptr, 0);
  if (length == 0) return "";
  std::vector<char> buffer(length + 1, '\0');
  const size_t copied = call(manager, buffer.data(), buffer.size());
  return std::string(buffer.data(), std::min(copied, length));
}

FeedCheck VelopackBackend::CheckFeed() {
  const auto check = TUC_REQUIRE(tuc_check_for_updates);
  const auto freeInfo = TUC_REQUIRE(tuc_free_update_info);
  tuc_update_manager* manager = Manager();
  {
    std::lock_guard lock(mutex_);
    target_.reset();
  }
  tuc_update_info* info = nullptr;
  const int16_t result = check(manager, &info);
  std::unique_ptr<tuc_update_info, decltype(freeInfo)> owned(info, freeInfo);
  if (result == TUC_CHECK_ERROR) ThrowLastError();
  if (result != TUC_UPDATE_AVAILABLE) return FeedCheck{};
  if (info == nullptr) throw std::runtime_error("Expected value not present");
  if (info->target_full_release == nullptr) throw std::runtime_error("Required property TargetFullRelease was null");
  ClientAsset target = ReadClientAsset(info->target_full_release);
  for (size_t i = 0; i < info->deltas_count; ++i) {
    ReadClientAsset(info->deltas != nullptr ? info->deltas[i] : nullptr);  // same rules, then dropped
  }
  FeedCheck feed;
  feed.updateAvailable = true;
  feed.targetFull = target.ToFeedRelease();
  // Deltas are off: only the full release is kept and downloaded.
  std::lock_guard lock(mutex_);
  target_ = std::move(target);
  return feed;
}

void VelopackBackend::DownloadFull(const ProgressFn& progress) {
  std::optional<ClientAsset> target;
  {
    std::lock_guard lock(mutex_);
    target = target_;
  }
  if (!target) throw UpdaterFail(kStageDownload, "");
  try {
    const auto download = TUC_REQUIRE(tuc_download_updates);
    tuc_update_manager* manager = Manager();
    tuc_asset full = AsClientStruct(*target);
    const tuc_update_info info{&full, /*deltas=*/nullptr, /*deltas_count=*/0, /*is_downgrade=*/false};
    if (download(manager, &info, ForwardProgress, const_cast<ProgressFn*>(&progress))) return;
  } catch (...) {
  }
  throw UpdaterFail(kStageDownload, "");
}

std::optional<FeedRelease> VelopackBackend::PendingRestart() {
  std::optional<ClientAsset> waiting;
  try {
    const auto pending = TUC_REQUIRE(tuc_update_pending_restart);
    const auto freeAsset = TUC_REQUIRE(tuc_free_asset);
    tuc_asset* asset = nullptr;
    if (pending(Manager(), &asset) && asset != nullptr) {
      std::unique_ptr<tuc_asset, decltype(freeAsset)> owned(asset, freeAsset);
      waiting = ReadClientAsset(asset);
    }
  } catch (...) {
    waiting.reset();
  }
  std::lock_guard lock(mutex_);
  pendingAsset_ = waiting;
  if (!waiting) return std::nullopt;
  return waiting->ToFeedRelease();
}

void VelopackBackend::ApplyPending(const std::string& version, const std::string& fileName) {
  std::optional<ClientAsset> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting = pendingAsset_;
  }
  if (!waiting || waiting->version != version || waiting->fileName != fileName) throw UpdaterFail(kStageApply, "");
  const auto apply = TUC_REQUIRE(tuc_wait_exit_then_apply_updates);
  tuc_asset asset = AsClientStruct(*waiting);
  if (!apply(Manager(), &asset, /*silent=*/true, /*restart=*/true, /*restart_args=*/nullptr,
             /*restart_args_count=*/0)) {
    ThrowLastError();
  }
}

std::string VelopackBackend::PackagesDir() {
  const std::string appId = ManagerText(TUC_REQUIRE(tuc_get_app_id));
  return options_.packageDir ? options_.packageDir(appId) : InstalledPackagesDir(appId);
}

std::string VelopackBackend::CurrentVersion() {
  try {
    return ManagerText(TUC_REQUIRE(tuc_get_current_version));
  } catch (...) {
    return "";
  }
}

std::optional<std::string> VelopackBackend::ReadAsset(const std::string& name) {
  try {
    if (!options_.fetchAsset) return std::nullopt;
    return options_.fetchAsset(name, options_.feedUrl);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace TalvekUpdater
