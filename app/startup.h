// The shell's life from entry to exit, in its fixed order.
#pragma once

#include <string>
#include <vector>

namespace VirelantDesktop::app {

// The whole command line, program name first.
using CommandLine = std::vector<std::string>;

// Runs the start-up order, the UI loop and the clean-up. Returns the exit code.
int RunApplication(const CommandLine& commandLine);

}  // namespace VirelantDesktop::app
