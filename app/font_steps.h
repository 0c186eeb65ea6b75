// The start-up steps of the product fonts: install with at most one
// relaunch, then the check that sets fontsLoaded.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace VirelantDesktop::app {

inline constexpr int kFontCheckAttempts = 1;
inline constexpr int kFontCheckAttemptsAfterRelaunch = 5;
inline constexpr int kFontCheckPauseMs = 200;

struct FontStepDeps {
  std::function<bool()> install;  // true when something was newly installed
  std::function<void()> releaseInstance;  // lets the relaunched process take the single-instance lock
  std::function<bool()> retakeInstance;   // after a failed relaunch; false: another instance runs now
  std::function<bool(const std::vector<std::string>& argv)> launch;  // starts a program, argv[0] its full path
  std::string executablePath;
  std::function<std::string()> userFontsFolder;  // "" when unavailable
  std::function<bool(const std::string& family, const std::string& folder)> familyAvailable;
  std::function<void(int milliseconds)> sleep;
};

// The relaunch's command line: this one with "--fonts-installed" added and
// the program given by its full path.
std::vector<std::string> RelaunchCommandLine(const std::vector<std::string>& commandLine,
                                             const std::string& executablePath);

// Installs the fonts; when that installed something and this process is not
// a relaunch already, releases the single-instance lock, starts the relaunch
// and returns false (exit 0). When the relaunch fails to start this process
// takes the lock again and runs on (true), unless another instance took it
// meanwhile (false: it was handed the command line).
bool InstallFontsOrRelaunch(const std::vector<std::string>& commandLine, const FontStepDeps& deps);

// Whether both product families are available: one attempt, or up to five
// 200 ms apart after a relaunch (the desktop may take a moment to see them).
bool CheckProductFonts(const std::vector<std::string>& commandLine, const FontStepDeps& deps);

}  // namespace VirelantDesktop::app
