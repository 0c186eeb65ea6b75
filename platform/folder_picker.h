// The folder chooser, when the shell runs a toolkit: installed at start-up,
// used by modules on the UI thread.
#pragma once

#include <functional>
#include <string>

namespace VirelantDesktop::platform {

enum class PickOutcome { Chosen, Cancelled, Failed };
using FolderPickDone = std::function<void(PickOutcome outcome, const std::string& path)>;
// Shows the chooser (on the UI thread) and calls `done` once, on the UI thread.
using FolderPicker = std::function<void(FolderPickDone done)>;

void InstallFolderPicker(FolderPicker picker);
// Shows the installed chooser; false (and `done` not called) when none is.
bool PickFolder(FolderPickDone done);

// The GTK chooser (portal when available), modal for the main window
// `ownerWindow` (a GtkWindow*, may be null); only the shell links it.
FolderPicker MakeGtkFolderPicker(void* ownerWindow);

}  // namespace VirelantDesktop::platform
