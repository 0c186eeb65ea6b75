// A copy of an open file saved where the user chose (a save dialog's answer).
//
// The copy is written under a short temporary name beside the destination,
// created exclusively, and renamed over it, so a failed copy never leaves a
// half-written file under the chosen name. The destination's folders may be
// links (the user picked them); the file's own name is replaced as an entry,
// never followed. The copy gets the mode any new file of the user gets and
// keeps the source's download origin.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

// Copies `source` (a regular file, read from its start) to the absolute path
// `destination`; false when nothing was saved.
bool SaveCopyOfOpenFile(const UniqueFd& source, const std::string& destination);

}  // namespace VirelantDesktop::platform
