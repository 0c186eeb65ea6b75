// The update client's start-up hooks, installed first thing in the shell's
// start-up when the library loaded.
#pragma once

#include "updater/update_client_library.h"

namespace TalvekUpdater {

// Turns automatic apply off, installs the hooks (after-install,
// before-update, after-update and first-run do nothing; before-uninstall
// runs `beforeUninstall`; restarted feeds the restart record) and runs the
// library's start-up (tuc_app_run), which may call them before it returns.
// Then, for a program run from an installation's "current" folder, removes
// what the running version no longer needs from the packages folder
// (CleanUpPackagesAtStart, update_engine.h).
// False, with nothing called, when the library lacks one of the functions.
bool RunClientStartupHooks(const UpdateClientLibrary& library, void (*beforeUninstall)());

// Whether the library ran the before-uninstall hook in this process (a
// start with the uninstall switch): the work is done then.
bool BeforeUninstallHookRan() noexcept;

}  // namespace TalvekUpdater
