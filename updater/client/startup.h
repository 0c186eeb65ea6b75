// The start-up hooks of tuc_app_run.
//
// first-run: the first start of an installation, recorded by the marker
//   <root>/.first-run-done (made with O_EXCL, so one start wins; a root we
//   cannot write to never fires it, rather than firing on every start).
// restarted: the first start after an update was applied. The apply helper
//   leaves "update.applied" inside the new installation folder before it is
//   swapped in, so the marker appears together with the new version and
//   whatever starts it first (the helper's restart or the user) consumes it.
//   A marker file rather than an environment variable: a variable would
//   be inherited by every child, could be set by anyone who starts the
//   program, and would be lost when the update is applied without a restart.
//
// Before either, a swap of the apply helper that was cut between its two
// renames is recovered (swap_recovery.h), unless a helper holds the apply
// lock (it may be between its renames right now).
// Nothing inside the installation runs while "current" is missing, so this
// only helps a program started from elsewhere in the root; the helper does
// the same before every apply.
//
// before-uninstall: a process started with "--veloapp-uninstall" as its
// first argument (ASCII case-insensitively) is being uninstalled; the hook
// runs instead of the others, and the program then does what its switch
// says.
//
// The other hooks are kept but never called: installing and updating happen
// outside this process, and updates are never applied at start-up.
#pragma once

#include <string>
#include <vector>

#include "updater/client/installation.h"
#include "updater/client/update_client.h"

namespace VirelantDesktop::update_client {

struct StartupHooks {
  tuc_hook_callback firstRun = nullptr;
  tuc_hook_callback restarted = nullptr;
  tuc_hook_callback beforeUninstall = nullptr;
};

inline constexpr const char* kUninstallArgument = "--veloapp-uninstall";

// Whether `arguments` (program name first) start an uninstall.
bool IsUninstallRun(const std::vector<std::string>& arguments);

// Runs the before-uninstall hook, with the installation's version when it
// can be found ("" otherwise).
void RunUninstallHook(const StartupHooks& hooks, void* userData);

// Runs the hooks that are due for `installation`, with its version.
void RunStartupHooks(const Installation& installation, const StartupHooks& hooks, void* userData);

}  // namespace VirelantDesktop::update_client
