// The save dialog, when the shell runs a toolkit: installed at start-up,
// used by modules on the UI thread. A run without one (headless) cannot ask
// the user where to save.
#pragma once

#include <functional>
#include <string>

#include "platform/folder_picker.h"

namespace VirelantDesktop::platform {

// `outcome` Chosen comes with the chosen file's path.
using SaveDialogDone = std::function<void(PickOutcome outcome, const std::string& path)>;
// Shows the dialog with `suggestedName` (on the UI thread); asks before
// replacing an existing file; calls `done` once, on the UI thread.
using SaveDialog = std::function<void(const std::string& suggestedName, SaveDialogDone done)>;

void InstallSaveDialog(SaveDialog dialog);
// Shows the installed dialog; false (and `done` not called) when none is.
bool ShowSaveDialog(const std::string& suggestedName, SaveDialogDone done);

// The GTK dialog (portal when available), modal for the main window
// `ownerWindow` (a GtkWindow*, may be null); only the shell links it.
SaveDialog MakeGtkSaveDialog(void* ownerWindow);

}  // namespace VirelantDesktop::platform
