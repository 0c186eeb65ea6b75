// A test program that lives in a temporary installation (<root>/current/)
// and drives libtalvek-update.so from its own folder, as the shell does.
//
//   driver [--out FILE] [--ca FILE] COMMAND [FEED-URL] [-- RESTART-ARG...]
//
// Commands: info, check, download, pending, apply, apply-restart, hooks,
// --veloapp-uninstall.
// Results (failures included) go to standard output, one "key value" line
// each, and are also appended to FILE (the apply helper starts restarted programs with standard
// output on /dev/null).
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "updater/client/update_client.h"
#include "updater/client/update_client_testing.h"

namespace {

void* g_library = nullptr;
std::string g_outFile;

// Looked up by name only: the driver never links the library.
template <typename Fn>
Fn Bind(const char* name) {
  void* symbol = dlsym(g_library, name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "driver: no %s\n", name);
    std::exit(3);
  }
  return reinterpret_cast<Fn>(symbol);
}
#define TUC(name) Bind<decltype(&name)>(#name)

void Emit(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!g_outFile.empty()) {
    if (FILE* out = std::fopen(g_outFile.c_str(), "a")) {
      std::fprintf(out, "%s\n", line.c_str());
      std::fclose(out);
    }
  }
}

std::string LastError() {
  const auto get = TUC(tuc_get_last_error);
  std::string text(get(nullptr, 0), '\0');
  get(text.data(), text.size());
  return text;
}

std::string Text(const char* value) { return value == nullptr ? "(null)" : value; }

std::string Describe(const tuc_asset& asset) {
  return Text(asset.package_id) + " " + Text(asset.version) + " " + Text(asset.type) + " " + Text(asset.file_name) +
         " " + std::to_string(asset.size) + " " + Text(asset.sha256) + " " + Text(asset.notes_markdown);
}

std::string ExecutableDir() {
  char path[4096] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string text(path, length > 0 ? static_cast<size_t>(length) : 0);
  return text.substr(0, text.rfind('/'));
}

void OnProgress(void*, size_t percent) { Emit("progress " + std::to_string(percent)); }
void OnFirstRun(void*, const char* version) { Emit("first-run " + Text(version)); }
void OnRestarted(void*, const char* version) { Emit("restarted " + Text(version)); }
void OnBeforeUninstall(void*, const char* version) { Emit("before-uninstall " + Text(version)); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string caFile;
  while (args.size() >= 2 && (args[0] == "--out" || args[0] == "--ca")) {
    (args[0] == "--out" ? g_outFile : caFile) = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return 2;
  const std::string command = args[0];
  std::vector<std::string> restartArgs;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--") {
      restartArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      args.resize(i);
      break;
    }
  }

  g_library = dlopen((ExecutableDir() + "/" + TUC_LIBRARY_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (g_library == nullptr) {
    std::fprintf(stderr, "driver: %s\n", dlerror());
    return 3;
  }
  if (!caFile.empty()) TUC(tuc_set_trust_for_testing)(caFile.c_str(), nullptr);

  // "hooks" runs the start-up hooks; the uninstall switch as the command
  // (argv[1]) is a start to uninstall.
  if (command == "hooks" || command == "--veloapp-uninstall" || command == "--VeloApp-Uninstall") {
    TUC(tuc_app_set_hook_first_run)(&OnFirstRun);
    TUC(tuc_app_set_hook_restarted)(&OnRestarted);
    TUC(tuc_app_set_hook_before_uninstall)(&OnBeforeUninstall);
    TUC(tuc_app_run)(nullptr);
    Emit("hooks done");
    return 0;
  }

  const tuc_update_options options{false, nullptr, -1};
  tuc_update_manager* manager = nullptr;
  if (!TUC(tuc_new_update_manager)(args.size() > 1 ? args[1].c_str() : "", &options, nullptr, &manager)) {
    Emit("manager failed: " + LastError());
    return 0;
  }

  if (command == "info") {
    char id[64] = {};
    TUC(tuc_get_app_id)(manager, id, sizeof id);
    const auto getVersion = TUC(tuc_get_current_version);
    std::string version(getVersion(manager, nullptr, 0), '\0');
    getVersion(manager, version.data(), version.size());
    Emit(std::string("app-id ") + id);
    Emit("version " + version);
  } else if (command == "check" || command == "download") {
    tuc_update_info* info = nullptr;
    const int16_t result = TUC(tuc_check_for_updates)(manager, &info);
    Emit("check " + std::to_string(result) + (result == TUC_CHECK_ERROR ? " " + LastError() : ""));
    if (info != nullptr) {
      Emit("target " + Describe(*info->target_full_release));
      for (size_t i = 0; i < info->deltas_count; ++i) Emit("delta " + Describe(*info->deltas[i]));
      if (command == "download") {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = TUC(tuc_download_updates)(manager, info, &OnProgress, nullptr);
        const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
        Emit(ok ? "download ok" : "download failed: " + LastError());
        Emit("elapsed-ms " + std::to_string(elapsed.count()));
      }
      TUC(tuc_free_update_info)(info);
    }
  } else if (command == "pending" || command == "apply" || command == "apply-restart") {
    tuc_asset* asset = nullptr;
    if (!TUC(tuc_update_pending_restart)(manager, &asset)) {
      Emit("pending none: " + LastError());
    } else {
      Emit("pending " + Describe(*asset) + " " + Text(asset->sha1));
      if (command != "pending") {
        std::vector<const char*> restart;
        for (const std::string& arg : restartArgs) restart.push_back(arg.c_str());
        const bool ok = TUC(tuc_wait_exit_then_apply_updates)(manager, asset, true, command == "apply-restart",
                                                              restart.data(), restart.size());
        Emit(ok ? "apply started" : "apply failed: " + LastError());
      }
      TUC(tuc_free_asset)(asset);
    }
  } else {
    return 2;
  }
  TUC(tuc_free_update_manager)(manager);
  return 0;
}
