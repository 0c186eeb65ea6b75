// The exported calls of libtalvek-update.so. Each one catches everything:
// nothing unwinds into the C caller; a failure is recorded as the calling
// thread's last error and reported by the call's result.
#include "updater/client/update_client.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/process_setup.h"
#include "platform/unique_fd.h"
#include "updater/client/apply_request.h"
#include "updater/client/client_os.h"
#include "updater/client/https_transfer.h"
#include "updater/client/installation.h"
#include "updater/client/package_files.h"
#include "updater/client/package_names.h"
#include "updater/client/release_feed.h"
#include "updater/client/startup.h"
#include "updater/client/update_client_testing.h"

#define TUC_EXPORT __attribute__((visibility("default")))

namespace uc = VirelantDesktop::update_client;

struct tuc_update_manager {
  std::string feedUrl;
  uc::Installation installation;
};

namespace {

constexpr size_t kMaxFeedBytes = size_t{16} << 20;
constexpr size_t kMaxFeedUrlBytes = 2048;
constexpr const char* kFeedIndexName = "releases.json";

thread_local std::string t_lastError;

std::atomic<tuc_hook_callback> g_firstRunHook{nullptr};
std::atomic<tuc_hook_callback> g_restartedHook{nullptr};
std::atomic<tuc_hook_callback> g_beforeUninstallHook{nullptr};

void SetLastError(const char* text) noexcept {
  try {
    t_lastError = text;
  } catch (...) {
    t_lastError.clear();
  }
}

// Runs `body`; any exception becomes the last error and `failed` the result.
template <typename Result, typename Body>
Result Guard(Result failed, Body&& body) noexcept {
  try {
    t_lastError.clear();
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError("out of memory");
  } catch (const std::exception& error) {
    SetLastError(error.what());
  } catch (...) {
    SetLastError("unexpected failure");
  }
  return failed;
}

// The two-call pattern of the header.
size_t CopyOut(const std::string& text, char* buffer, size_t length) noexcept {
  if (buffer == nullptr) return text.size();
  const size_t copied = std::min(text.size(), length);
  std::memcpy(buffer, text.data(), copied);
  if (copied < length) buffer[copied] = '\0';
  return copied;
}

bool IsFeedUrl(const std::string& url) {
  if (url.size() <= 9 || url.size() > kMaxFeedUrlBytes || url.rfind("https://", 0) != 0 || url.back() != '/') {
    return false;
  }
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) return false;
  }
  return true;
}

char* CopyText(const std::optional<std::string>& text) {
  if (!text) return nullptr;
  char* copy = strdup(text->c_str());
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

std::optional<std::string> TextOf(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

struct AssetFree {
  void operator()(tuc_asset* asset) const { tuc_free_asset(asset); }
};
using AssetPtr = std::unique_ptr<tuc_asset, AssetFree>;

AssetPtr ToCAsset(const uc::FeedAsset& asset) {
  AssetPtr copy(static_cast<tuc_asset*>(std::calloc(1, sizeof(tuc_asset))));
  if (!copy) throw std::bad_alloc();
  copy->package_id = CopyText(asset.packageId);
  copy->version = CopyText(asset.version);
  copy->type = CopyText(asset.type);
  copy->file_name = CopyText(asset.fileName);
  copy->sha1 = CopyText(asset.sha1);
  copy->sha256 = CopyText(asset.sha256);
  copy->size = asset.size;
  copy->notes_markdown = CopyText(asset.notesMarkdown);
  copy->notes_html = CopyText(asset.notesHtml);
  return copy;
}

uc::FeedAsset FromCAsset(const tuc_asset& asset) {
  uc::FeedAsset copy;
  copy.packageId = TextOf(asset.package_id);
  copy.version = TextOf(asset.version);
  copy.type = TextOf(asset.type);
  copy.fileName = TextOf(asset.file_name);
  copy.sha1 = TextOf(asset.sha1);
  copy.sha256 = TextOf(asset.sha256);
  copy.size = asset.size;
  copy.notesMarkdown = TextOf(asset.notes_markdown);
  copy.notesHtml = TextOf(asset.notes_html);
  return copy;
}

void RequireManager(const tuc_update_manager* manager) {
  if (manager == nullptr) throw uc::ClientError("no update manager");
}

}  // namespace

extern "C" {

TUC_EXPORT bool tuc_new_update_manager(const char* feed_url, const tuc_update_options* options, void* locator,
                                       tuc_update_manager** out) {
  return Guard(false, [&] {
    if (out == nullptr) throw uc::ClientError("no place for the update manager");
    *out = nullptr;
    if (locator != nullptr) throw uc::ClientError("a locator is not supported");
    if (feed_url == nullptr || !IsFeedUrl(feed_url)) throw uc::ClientError("the feed URL must be https and end in /");
    // Downgrades are never offered; an explicit channel has no meaning here
    // (the feed URL names the channel). Deltas are never downloaded, so
    // maximum_deltas_before_fallback changes nothing.
    if (options != nullptr && options->allow_version_downgrade) {
      throw uc::ClientError("version downgrades are not supported");
    }
    if (options != nullptr && options->explicit_channel != nullptr && options->explicit_channel[0] != '\0') {
      throw uc::ClientError("an explicit channel is not supported");
    }
    auto manager = std::make_unique<tuc_update_manager>();
    manager->feedUrl = feed_url;
    manager->installation = uc::LocateInstallation();
    *out = manager.release();
    return true;
  });
}

TUC_EXPORT void tuc_free_update_manager(tuc_update_manager* manager) { delete manager; }

TUC_EXPORT int16_t tuc_check_for_updates(tuc_update_manager* manager, tuc_update_info** out) {
  return Guard<int16_t>(TUC_CHECK_ERROR, [&]() -> int16_t {
    RequireManager(manager);
    if (out == nullptr) throw uc::ClientError("no place for the update information");
    *out = nullptr;
    const std::string text = uc::FetchText(manager->feedUrl + kFeedIndexName, kMaxFeedBytes);
    const uc::UpdateChoice choice = uc::ChooseUpdate(uc::ParseReleaseFeed(text), manager->installation.appId,
                                                     manager->installation.version);
    if (choice.outcome == uc::UpdateChoice::Outcome::kEmpty) return TUC_REMOTE_IS_EMPTY;
    if (choice.outcome == uc::UpdateChoice::Outcome::kNoUpdate) return TUC_NO_UPDATE_AVAILABLE;
    // A package that could not be applied is not offered again: applying it
    // would quit the shell and fail the same way. A newer release, or the
    // same version published with other bytes, is offered as usual.
    if (uc::IsFailedPackage(manager->installation, choice.target)) return TUC_NO_UPDATE_AVAILABLE;

    struct InfoFree {
      void operator()(tuc_update_info* info) const { tuc_free_update_info(info); }
    };
    std::unique_ptr<tuc_update_info, InfoFree> info(
        static_cast<tuc_update_info*>(std::calloc(1, sizeof(tuc_update_info))));
    if (!info) throw std::bad_alloc();
    info->target_full_release = ToCAsset(choice.target).release();
    if (!choice.deltas.empty()) {
      info->deltas = static_cast<tuc_asset**>(std::calloc(choice.deltas.size(), sizeof(tuc_asset*)));
      if (info->deltas == nullptr) throw std::bad_alloc();
      for (const uc::FeedAsset& delta : choice.deltas) {
        info->deltas[info->deltas_count] = ToCAsset(delta).release();
        ++info->deltas_count;
      }
    }
    info->is_downgrade = false;
    *out = info.release();
    return TUC_UPDATE_AVAILABLE;
  });
}

TUC_EXPORT void tuc_free_update_info(tuc_update_info* info) {
  if (info == nullptr) return;
  tuc_free_asset(info->target_full_release);
  for (size_t i = 0; i < info->deltas_count; ++i) tuc_free_asset(info->deltas[i]);
  std::free(info->deltas);
  std::free(info);
}

TUC_EXPORT bool tuc_download_updates(tuc_update_manager* manager, const tuc_update_info* info,
                                     tuc_progress_callback progress, void* user_data) {
  return Guard(false, [&] {
    RequireManager(manager);
    if (info == nullptr || info->target_full_release == nullptr) throw uc::ClientError("no release to download");
    uc::DownloadFullPackage(manager->feedUrl, manager->installation, FromCAsset(*info->target_full_release),
                            [&](size_t percent) {
                              if (progress != nullptr) progress(user_data, percent);
                            });
    return true;
  });
}

TUC_EXPORT bool tuc_update_pending_restart(tuc_update_manager* manager, tuc_asset** out) {
  return Guard(false, [&] {
    RequireManager(manager);
    if (out == nullptr) throw uc::ClientError("no place for the pending release");
    *out = nullptr;
    const std::optional<uc::FeedAsset> pending = uc::FindPendingPackage(manager->installation);
    if (!pending) throw uc::ClientError("no update is waiting for a restart");
    *out = ToCAsset(*pending).release();
    return true;
  });
}

TUC_EXPORT void tuc_free_asset(tuc_asset* asset) {
  if (asset == nullptr) return;
  for (char* text : {asset->package_id, asset->version, asset->type, asset->file_name, asset->sha1, asset->sha256,
                     asset->notes_markdown, asset->notes_html}) {
    std::free(text);
  }
  std::free(asset);
}

TUC_EXPORT bool tuc_wait_exit_then_apply_updates(tuc_update_manager* manager, const tuc_asset* asset, bool silent,
                                                 bool restart, const char** restart_args,
                                                 size_t restart_args_count) {
  (void)silent;  // the helper never shows anything
  return Guard(false, [&] {
    RequireManager(manager);
    if (asset == nullptr) throw uc::ClientError("no release to apply");
    const uc::Installation& installation = manager->installation;
    const uc::FeedAsset release = FromCAsset(*asset);
    if (const auto refusal = uc::RefuseFullAsset(release, installation.appId, installation.version)) {
      throw uc::ClientError(*refusal);
    }
    // Only the layout <root>/current can be swapped; a program run from
    // anywhere else (a build tree) must not have a "current" made beside it.
    if (!installation.IsSwappable()) {
      throw uc::ClientError("the executable does not run from an installation's current folder");
    }
    uc::ApplyRequest request;
    request.root = installation.root;
    request.appId = installation.appId;
    request.version = *release.version;
    request.packagePath = installation.packagesDir + "/" + *release.fileName;
    request.size = release.size;
    request.sha256 = *uc::LowerHexDigest(*release.sha256, 64);
    request.waitPid = VirelantDesktop::platform::CurrentProcessId();
    request.restart = restart;
    for (size_t i = 0; i < restart_args_count; ++i) {
      if (restart_args == nullptr || restart_args[i] == nullptr) throw uc::ClientError("a restart argument is null");
      request.restartArgs.emplace_back(restart_args[i]);
    }

    std::vector<std::string> argv = {installation.executableDir + "/" + uc::kApplyHelperName};
    const std::vector<std::string> arguments = uc::ApplyRequestArguments(request);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const VirelantDesktop::platform::UniqueFd pidfd(uc::os::OpenOwnPidfd());
    uc::os::SpawnDetached(argv, installation.root, pidfd.Get());
    return true;
  });
}

TUC_EXPORT size_t tuc_get_app_id(tuc_update_manager* manager, char* buffer, size_t length) {
  return Guard<size_t>(0, [&] {
    RequireManager(manager);
    return CopyOut(manager->installation.appId, buffer, length);
  });
}

TUC_EXPORT size_t tuc_get_current_version(tuc_update_manager* manager, char* buffer, size_t length) {
  return Guard<size_t>(0, [&] {
    RequireManager(manager);
    return CopyOut(manager->installation.version, buffer, length);
  });
}

TUC_EXPORT size_t tuc_get_last_error(char* buffer, size_t length) { return CopyOut(t_lastError, buffer, length); }

// Accepted for the caller's sake and never acted on (startup.h says why):
// updates are only applied by the helper, never at start-up.
TUC_EXPORT void tuc_app_set_auto_apply_on_startup(bool auto_apply) { (void)auto_apply; }
TUC_EXPORT void tuc_app_set_hook_after_install(tuc_hook_callback hook) { (void)hook; }
TUC_EXPORT void tuc_app_set_hook_before_uninstall(tuc_hook_callback hook) { g_beforeUninstallHook = hook; }
TUC_EXPORT void tuc_app_set_hook_before_update(tuc_hook_callback hook) { (void)hook; }
TUC_EXPORT void tuc_app_set_hook_after_update(tuc_hook_callback hook) { (void)hook; }
TUC_EXPORT void tuc_app_set_hook_first_run(tuc_hook_callback hook) { g_firstRunHook = hook; }
TUC_EXPORT void tuc_app_set_hook_restarted(tuc_hook_callback hook) { g_restartedHook = hook; }

TUC_EXPORT void tuc_app_run(void* user_data) {
  Guard(0, [&] {
    uc::StartupHooks hooks;
    hooks.firstRun = g_firstRunHook;
    hooks.restarted = g_restartedHook;
    hooks.beforeUninstall = g_beforeUninstallHook;
    if (uc::IsUninstallRun(uc::os::OwnArguments())) {
      uc::RunUninstallHook(hooks, user_data);
      return 0;
    }
    uc::RunStartupHooks(uc::LocateInstallation(), hooks, user_data);
    return 0;
  });
}

TUC_EXPORT void tuc_set_trust_for_testing(const char* ca_file, const char* connect_to) {
  Guard(0, [&] {
    uc::SetTransferTrustForTesting(ca_file != nullptr ? ca_file : "", connect_to != nullptr ? connect_to : "");
    return 0;
  });
}

}  // extern "C"
