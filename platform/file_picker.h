// The file-open chooser for attachments, when the shell runs a toolkit:
// installed at start-up, used by modules on the UI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/folder_picker.h"

namespace VirelantDesktop::platform {

struct FilePickOptions {
  bool multiple = false;
  std::vector<std::string> patterns;  // e.g. "*.png"; empty: every file
  std::string filterLabel;            // the filter's name as shown
};

// The chosen local files, in the order the chooser lists them.
using FilesPickDone = std::function<void(PickOutcome outcome, std::vector<std::string> paths)>;
using FilesPicker = std::function<void(const FilePickOptions& options, FilesPickDone done)>;

void InstallFilesPicker(FilesPicker picker);
// Shows the installed chooser; false (and `done` not called) when none is.
bool PickFiles(const FilePickOptions& options, FilesPickDone done);

// The GTK chooser (the portal when there is one), modal for `ownerWindow`
// (a GtkWindow*, may be null); only the shell links it.
FilesPicker MakeGtkFilesPicker(void* ownerWindow);

}  // namespace VirelantDesktop::platform
