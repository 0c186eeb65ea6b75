// The apply helper's work, once the shell has ended: check the package
// again, unpack it into a new folder beside "current", swap that folder in,
// and start the new version when asked.
#pragma once

#include <string>

#include "updater/client/apply/package_unpack.h"
#include "updater/client/apply_request.h"

namespace VirelantDesktop::update_client {

// Throws std::runtime_error naming the step that failed. Until the swap,
// a failure leaves <root>/current untouched and removes the new folder.
// Returns a line for the log.
std::string ApplyUpdate(const ApplyRequest& request, const UnpackLimits& limits = {});

}  // namespace VirelantDesktop::update_client
