// Starting another copy of a program and leaving it to run on its own.
#pragma once

#include <string>
#include <vector>

namespace VirelantDesktop::platform {

// Starts the program at the full path `argv[0]` with `argv` as its arguments,
// this process's environment and standard streams, no other descriptor, and
// default signal handling with nothing blocked. It is never waited for (it
// outlives this process). False when it could not be started.
bool LaunchDetached(const std::vector<std::string>& argv);

}  // namespace VirelantDesktop::platform
