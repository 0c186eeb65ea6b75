#include "app/font_steps.h"

#include "app/single_instance_step.h"
#include "fonts/font_tables.h"

namespace VirelantDesktop::app {

std::vector<std::string> RelaunchCommandLine(const std::vector<std::string>& commandLine,
                                             const std::string& executablePath) {
  std::vector<std::string> argv = commandLine;
  if (argv.empty()) argv.emplace_back();
  argv.front() = executablePath;
  argv.emplace_back(kFontsInstalledSwitch);
  return argv;
}

bool InstallFontsOrRelaunch(const std::vector<std::string>& commandLine, const FontStepDeps& deps) {
  if (!deps.install()) return true;
  if (HasFontsInstalledSwitch(commandLine)) return true;
  if (deps.executablePath.empty()) return true;
  // The new process must find the lock free; it waits for it a while (the
  // switch it gets), but the hand-over would otherwise reach this one.
  deps.releaseInstance();
  if (deps.launch(RelaunchCommandLine(commandLine, deps.executablePath))) return false;
  return deps.retakeInstance();
}

bool CheckProductFonts(const std::vector<std::string>& commandLine, const FontStepDeps& deps) {
  const std::string folder = deps.userFontsFolder();
  if (folder.empty()) return false;
  const int attempts = HasFontsInstalledSwitch(commandLine) ? kFontCheckAttemptsAfterRelaunch : kFontCheckAttempts;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) deps.sleep(kFontCheckPauseMs);
    if (deps.familyAvailable(std::string(fonts::kSansFamily), folder) &&
        deps.familyAvailable(std::string(fonts::kSansJpFamily), folder)) {
      return true;
    }
  }
  return false;
}

}  // namespace VirelantDesktop::app
