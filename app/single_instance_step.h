// Whether this process may run: the uninstall switch, the single-instance
// lock with its retry after a font relaunch, and the hand-over of the
// command line to the running instance.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/single_instance.h"

namespace VirelantDesktop::app {

inline constexpr const char* kUninstallSwitch = "--veloapp-uninstall";
inline constexpr const char* kFontsInstalledSwitch = "--fonts-installed";
inline constexpr int kLockRetries = 100;
inline constexpr int kRetryPauseMs = 100;
inline constexpr int kHandOverSendMs = 2000;
inline constexpr int kHandOverScanMs = 5000;

// ASCII case-insensitive comparison, as the switches are compared.
bool SwitchEquals(const std::string& argument, const char* name);
// The uninstall switch counts only as the first argument after the program.
bool HasUninstallSwitch(const std::vector<std::string>& commandLine);
bool HasFontsInstalledSwitch(const std::vector<std::string>& commandLine);

enum class StartDecision {
  Run,        // this is the only instance (or none can be enforced)
  HandedOver, // another instance runs: exit 0 (whether or not it accepted)
};

struct SingleInstanceDeps {
  std::string folder;  // the instance folder; empty: run without the rule
  std::string executablePath;
  std::function<void(int milliseconds)> sleep;
  std::function<std::chrono::steady_clock::time_point()> now;
};

// Takes the lock into `guard` when this is the only instance; otherwise hands
// over until an instance accepts or the scan time is up.
StartDecision DecideSingleInstance(const std::vector<std::string>& commandLine, const SingleInstanceDeps& deps,
                                   platform::InstanceGuard& guard);

}  // namespace VirelantDesktop::app
