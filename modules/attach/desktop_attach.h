// The Attach module on the desktop: the main window's drop target and its
// paste chord, sending "Attach.dropHover", "Attach.drop" and "Attach.paste".
// UI thread only.
#pragma once

#include "modules/attach/drop_target.h"

namespace VirelantDesktop::attach {

// The process's drop target (made on first use).
filedrop::Target& DropTarget();

// Connects the drop target and the paste chord to the main window once;
// later calls do nothing once connected. False while there is no window.
bool EnsureDropTarget();

}  // namespace VirelantDesktop::attach
