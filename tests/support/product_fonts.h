// The product fonts installed into a test's data folder as the shell's first
// start would, so that a shell started there finds them and runs on instead
// of relaunching itself.
#pragma once

#include <string>

#include "fonts/font_installer.h"

namespace VirelantDesktop::testing {

// `dataHome` is the XDG data folder the shell will see; `executableDir` the
// folder of the shell whose "Fonts/" are installed.
inline void PreinstallProductFonts(const std::string& dataHome, const std::string& executableDir) {
  fonts::InstallFontsInto({dataHome + "/fonts", dataHome + "/TALVEK/fonts.json"}, executableDir, nullptr);
}

}  // namespace VirelantDesktop::testing
