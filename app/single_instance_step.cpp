#include "app/single_instance_step.h"

#include <cctype>
#include <cstring>

namespace VirelantDesktop::app {

bool SwitchEquals(const std::string& argument, const char* name) {
  if (argument.size() != std::strlen(name)) return false;
  for (size_t i = 0; i < argument.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(argument[i])) != std::tolower(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return true;
}

bool HasUninstallSwitch(const std::vector<std::string>& commandLine) {
  return commandLine.size() > 1 && SwitchEquals(commandLine[1], kUninstallSwitch);
}

bool HasFontsInstalledSwitch(const std::vector<std::string>& commandLine) {
  for (size_t i = 1; i < commandLine.size(); ++i) {
    if (SwitchEquals(commandLine[i], kFontsInstalledSwitch)) return true;
  }
  return false;
}

StartDecision DecideSingleInstance(const std::vector<std::string>& commandLine, const SingleInstanceDeps& deps,
                                   platform::InstanceGuard& guard) {
  if (deps.folder.empty()) return StartDecision::Run;
  using Outcome = platform::InstanceGuard::Outcome;
  Outcome outcome = platform::InstanceGuard::TryAcquire(deps.folder, guard);
  // After a font relaunch the old process may still be on its way out.
  if (outcome == Outcome::HeldByAnother && HasFontsInstalledSwitch(commandLine)) {
    for (int attempt = 0; attempt < kLockRetries && outcome == Outcome::HeldByAnother; ++attempt) {
      deps.sleep(kRetryPauseMs);
      outcome = platform::InstanceGuard::TryAcquire(deps.folder, guard);
    }
  }
  if (outcome != Outcome::HeldByAnother) return StartDecision::Run;  // Failed: the rule cannot be enforced

  const auto start = deps.now();
  while (deps.now() - start < std::chrono::milliseconds(kHandOverScanMs)) {
    const auto result =
        platform::SendHandOver(deps.folder, commandLine, deps.executablePath, kHandOverSendMs);
    if (result == platform::HandOverResult::Accepted) break;
    deps.sleep(kRetryPauseMs);
  }
  return StartDecision::HandedOver;
}

}  // namespace VirelantDesktop::app
