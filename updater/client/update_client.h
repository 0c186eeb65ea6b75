/* The update client: a shared library of ours shipped beside the executable
 * as "libtalvek-update.so" and loaded on demand by its absolute path, so a
 * distribution package that leaves it out runs without self-update.
 *
 * It knows one installation layout:
 *
 *   <root>/current/talvek            the running executable (and this library)
 *   <root>/current/update.version    the installation's own version file
 *   <root>/packages/                 downloaded full packages
 *   <root>/packages/<id>-<version>-full.nupkg(.partial)
 *   <root>/packages/apply.log, apply-failed.json   the apply helper's
 *
 * and one feed layout: a folder (an https URL ending in "/") holding
 * "releases.json", the asset list, and the full packages it names.
 *
 * Plain C, so the shell binds it with dlsym. Strings are UTF-8. Every call
 * that can fail records a text that tuc_get_last_error returns (per thread).
 * Nothing here throws or aborts.
 */
#ifndef TALVEK_UPDATE_CLIENT_H
#define TALVEK_UPDATE_CLIENT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TUC_LIBRARY_FILE "libtalvek-update.so"

typedef struct tuc_update_manager tuc_update_manager;

/* One release of the feed. Text fields may be null when the feed left them
 * out; the caller checks them. Freed with tuc_free_asset. */
typedef struct tuc_asset {
  char* package_id;
  char* version;
  char* type; /* "Full" or "Delta" */
  char* file_name;
  char* sha1;   /* hex */
  char* sha256; /* hex */
  uint64_t size;
  char* notes_markdown;
  char* notes_html;
} tuc_asset;

typedef struct tuc_update_info {
  tuc_asset* target_full_release; /* null when the feed had none */
  tuc_asset** deltas;
  size_t deltas_count;
  bool is_downgrade;
} tuc_update_info;

typedef struct tuc_update_options {
  bool allow_version_downgrade;
  const char* explicit_channel;           /* null: none */
  int32_t maximum_deltas_before_fallback; /* -1: deltas off */
} tuc_update_options;

/* Results of tuc_check_for_updates. */
#define TUC_UPDATE_AVAILABLE 0
#define TUC_NO_UPDATE_AVAILABLE 1
#define TUC_REMOTE_IS_EMPTY 2
#define TUC_CHECK_ERROR 255

typedef void (*tuc_progress_callback)(void* user_data, size_t percent);
/* A start-up hook; app_version is the running (or new) version, may be null. */
typedef void (*tuc_hook_callback)(void* user_data, const char* app_version);

/* The manager for a feed folder URL. `locator` must be null (the layout
 * above is found from the running executable). False on failure. */
bool tuc_new_update_manager(const char* feed_url, const tuc_update_options* options, void* locator,
                            tuc_update_manager** out);
void tuc_free_update_manager(tuc_update_manager* manager);

/* Reads the feed's "releases.json"; on TUC_UPDATE_AVAILABLE *out is set
 * (free with tuc_free_update_info). The newest release is not offered when
 * it is the package (version and SHA256) whose apply failed last: the apply
 * helper records it in <root>/packages/apply-failed.json. */
int16_t tuc_check_for_updates(tuc_update_manager* manager, tuc_update_info** out);
void tuc_free_update_info(tuc_update_info* info);

/* Downloads the target full release into the packages folder through a
 * ".partial" file, checks its size, SHA1 and SHA256, and renames it into
 * place. Progress in whole percent on the calling thread. */
bool tuc_download_updates(tuc_update_manager* manager, const tuc_update_info* info,
                          tuc_progress_callback progress, void* user_data);

/* A downloaded full package newer than the running version, waiting for a
 * restart; false when there is none. Free with tuc_free_asset. */
bool tuc_update_pending_restart(tuc_update_manager* manager, tuc_asset** out);
void tuc_free_asset(tuc_asset* asset);

/* Starts the apply helper, which waits for this process to exit, hashes the
 * package again, unpacks it into a new folder, swaps it in as "current" and,
 * when `restart`, starts the new version; when the apply fails it starts the
 * installed version instead. Returns once the helper runs. */
bool tuc_wait_exit_then_apply_updates(tuc_update_manager* manager, const tuc_asset* asset, bool silent,
                                      bool restart, const char** restart_args, size_t restart_args_count);

/* Two-call pattern: with a null buffer the length needed (without the
 * terminating zero); otherwise copies at most `length` bytes, zero-terminated
 * when room is left, and returns the bytes copied. 0 on failure. */
size_t tuc_get_app_id(tuc_update_manager* manager, char* buffer, size_t length);
size_t tuc_get_current_version(tuc_update_manager* manager, char* buffer, size_t length);
size_t tuc_get_last_error(char* buffer, size_t length);

/* Start-up: set the hooks, then tuc_app_run once, early in main. It calls
 * first-run on the first start of an installation and restarted (with the
 * new version) on the first start after an update applied; the
 * before-uninstall hook runs when the process was started to uninstall. */
void tuc_app_set_auto_apply_on_startup(bool auto_apply);
void tuc_app_set_hook_after_install(tuc_hook_callback hook);
void tuc_app_set_hook_before_uninstall(tuc_hook_callback hook);
void tuc_app_set_hook_before_update(tuc_hook_callback hook);
void tuc_app_set_hook_after_update(tuc_hook_callback hook);
void tuc_app_set_hook_first_run(tuc_hook_callback hook);
void tuc_app_set_hook_restarted(tuc_hook_callback hook);
void tuc_app_run(void* user_data);

#ifdef __cplusplus
}
#endif

#endif /* TALVEK_UPDATE_CLIENT_H */
