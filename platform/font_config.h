// The desktop's font configuration (fontconfig on Linux), for the product
// fonts installed per user.
#pragma once

#include <string>
#include <vector>

namespace VirelantDesktop::platform {

// After fonts were added to or removed from the user's font folder `folder`:
// adds `addedFiles` to this process's font configuration (so this process
// draws with them at once) and writes the folder's cache again, so that
// other programs see the change without scanning it themselves. Failures
// are ignored: fontconfig finds the files on its next scan anyway.
void RefreshUserFonts(const std::string& folder, const std::vector<std::string>& addedFiles);

// The files of the fonts whose family (any of their family names) is
// `family`, as a configuration loaded afresh sees the disk now (not this
// process's configuration, which changes only when asked). Empty when there
// are none or the configuration cannot be loaded.
std::vector<std::string> FontFamilyFiles(const std::string& family);

}  // namespace VirelantDesktop::platform
