// A stand-in for the update client library, built as a shared library for
// the backend tests. Tests steer it with fake_tuc_set(key, value) and read
// what it was given with fake_tuc_get(key). Assets are made from the keys
// "<target|delta|pending>.<Field>"; "<prefix>.null" names a field left null.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "updater/client/update_client.h"

struct tuc_update_manager {};

namespace {

std::mutex g_lock;  // guards everything below
std::map<std::string, std::string> g_values;
std::string g_returned;  // the text fake_tuc_get handed out last
tuc_hook_callback g_restarted = nullptr;
tuc_hook_callback g_beforeUninstall = nullptr;

std::string Get(const std::string& key, const std::string& fallback = "") {
  std::lock_guard lock(g_lock);
  const auto found = g_values.find(key);
  return found != g_values.end() ? found->second : fallback;
}

void Set(const std::string& key, const std::string& value) {
  std::lock_guard lock(g_lock);
  g_values[key] = value;
}

char* Text(const std::string& prefix, const char* field, const char* fallback) {
  return Get(prefix + ".null") == field ? nullptr : strdup(Get(prefix + "." + field, fallback).c_str());
}

tuc_asset* MakeAsset(const std::string& prefix) {
  auto* asset = static_cast<tuc_asset*>(calloc(1, sizeof(tuc_asset)));
  asset->package_id = Text(prefix, "PackageId", "talvek");
  asset->version = Text(prefix, "Version", "0.2.2");
  asset->type = Text(prefix, "Type", "Full");
  asset->file_name = Text(prefix, "FileName", "talvek-0.2.2-full.nupkg");
  asset->sha1 = Text(prefix, "SHA1", "aa");
  asset->sha256 = Text(prefix, "SHA256", "bb");
  asset->size = 1000;
  asset->notes_markdown = Text(prefix, "NotesMarkdown", "");
  asset->notes_html = Text(prefix, "NotesHtml", "");
  return asset;
}

size_t CopyText(const std::string& text, char* buffer, size_t length) {
  if (buffer == nullptr) return text.size();
  const size_t copied = std::min(text.size(), length);
  std::memcpy(buffer, text.data(), copied);
  if (copied < length) buffer[copied] = '\0';
  return copied;
}

}  // namespace

extern "C" {

void fake_tuc_set(const char* key, const char* value) { Set(key, value); }

const char* fake_tuc_get(const char* key) {
  const std::string value = Get(key);
  std::lock_guard lock(g_lock);
  g_returned = value;
  return g_returned.c_str();
}

void fake_tuc_reset() {
  std::lock_guard lock(g_lock);
  g_values.clear();
  g_restarted = g_beforeUninstall = nullptr;
}

bool tuc_new_update_manager(const char* feed_url, const tuc_update_options* options, void* locator,
                            tuc_update_manager** out) {
  Set("new.count", std::to_string(std::atoi(Get("new.count", "0").c_str()) + 1));
  Set("new.call", std::string(feed_url) + " downgrade=" + (options->allow_version_downgrade ? "1" : "0") +
                      " channel=" + (options->explicit_channel ? options->explicit_channel : "<null>") +
                      " deltas=" + std::to_string(options->maximum_deltas_before_fallback) +
                      " locator=" + (locator ? "set" : "<null>"));
  if (Get("new.fail") == "1") {
    Set("error", "cannot open the feed");
    return false;
  }
  *out = new tuc_update_manager;
  return true;
}

void tuc_free_update_manager(tuc_update_manager* manager) { delete manager; }

int16_t tuc_check_for_updates(tuc_update_manager*, tuc_update_info** out) {
  const int result = std::atoi(Get("check.result", "1").c_str());
  if (result == TUC_CHECK_ERROR) Set("error", "feed answered 500");
  if (result != TUC_UPDATE_AVAILABLE || Get("check.no_info") == "1") return static_cast<int16_t>(result);
  auto* info = static_cast<tuc_update_info*>(calloc(1, sizeof(tuc_update_info)));
  if (Get("check.no_target") != "1") info->target_full_release = MakeAsset("target");
  info->deltas_count = std::strtoul(Get("check.deltas", "0").c_str(), nullptr, 10);
  info->deltas = static_cast<tuc_asset**>(calloc(info->deltas_count + 1, sizeof(tuc_asset*)));
  for (size_t i = 0; i < info->deltas_count; ++i) info->deltas[i] = MakeAsset("delta");
  *out = info;
  return TUC_UPDATE_AVAILABLE;
}

void tuc_free_asset(tuc_asset* asset) {
  if (asset == nullptr) return;
  for (char* text : {asset->package_id, asset->version, asset->type, asset->file_name, asset->sha1, asset->sha256,
                     asset->notes_markdown, asset->notes_html}) {
    free(text);
  }
  free(asset);
}

void tuc_free_update_info(tuc_update_info* info) {
  if (info == nullptr) return;
  tuc_free_asset(info->target_full_release);
  for (size_t i = 0; i < info->deltas_count; ++i) tuc_free_asset(info->deltas[i]);
  free(info->deltas);
  free(info);
}

bool tuc_download_updates(tuc_update_manager*, const tuc_update_info* info, tuc_progress_callback progress,
                          void* user_data) {
  Set("download.call", std::string(info->target_full_release->version) + " deltas=" +
                           std::to_string(info->deltas_count));
  for (size_t percent : {0, 50, 100}) progress(user_data, percent);
  return Get("download.ok", "1") == "1";
}

bool tuc_update_pending_restart(tuc_update_manager*, tuc_asset** out) {
  if (Get("pending") != "1") return false;
  *out = MakeAsset("pending");
  return true;
}

bool tuc_wait_exit_then_apply_updates(tuc_update_manager*, const tuc_asset* asset, bool silent, bool restart,
                                      const char**, size_t restart_args_count) {
  Set("apply.call", std::string(asset->version) + (silent ? " silent" : "") + (restart ? " restart" : "") +
                        " args=" + std::to_string(restart_args_count));
  if (Get("apply.ok", "1") == "1") return true;
  Set("error", "apply helper missing");
  return false;
}

size_t tuc_get_app_id(tuc_update_manager*, char* buffer, size_t length) {
  return CopyText(Get("app_id", "talvek"), buffer, length);
}
size_t tuc_get_current_version(tuc_update_manager*, char* buffer, size_t length) {
  return CopyText(Get("current_version", "0.2.1"), buffer, length);
}
size_t tuc_get_last_error(char* buffer, size_t length) { return CopyText(Get("error"), buffer, length); }

void tuc_app_set_auto_apply_on_startup(bool auto_apply) { Set("auto_apply", auto_apply ? "on" : "off"); }
void tuc_app_set_hook_after_install(tuc_hook_callback hook) { Set("hook.after_install", hook ? "set" : ""); }
void tuc_app_set_hook_before_update(tuc_hook_callback hook) { Set("hook.before_update", hook ? "set" : ""); }
void tuc_app_set_hook_after_update(tuc_hook_callback hook) { Set("hook.after_update", hook ? "set" : ""); }
void tuc_app_set_hook_first_run(tuc_hook_callback hook) { Set("hook.first_run", hook ? "set" : ""); }
void tuc_app_set_hook_before_uninstall(tuc_hook_callback hook) {
  std::lock_guard lock(g_lock);
  g_beforeUninstall = hook;
}
void tuc_app_set_hook_restarted(tuc_hook_callback hook) {
  std::lock_guard lock(g_lock);
  g_restarted = hook;
}

// Records whether automatic apply was off by now, then calls the hooks that
// "run.restarted" (a version, or "<null>") and "run.uninstall" = "1" ask for.
void tuc_app_run(void*) {
  Set("run.auto_apply", Get("auto_apply"));
  tuc_hook_callback restarted = nullptr;
  tuc_hook_callback uninstall = nullptr;
  {
    std::lock_guard lock(g_lock);
    restarted = g_restarted;
    uninstall = g_beforeUninstall;
  }
  const std::string version = Get("run.restarted");
  if (!version.empty() && restarted) restarted(nullptr, version == "<null>" ? nullptr : version.c_str());
  if (Get("run.uninstall") == "1" && uninstall) uninstall(nullptr, "0.2.1");
}

}  // extern "C"
