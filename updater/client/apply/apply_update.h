// The apply helper's work, once the shell has ended: check the package
// again, unpack it into a new folder beside "current", check that the new
// installation can start, swap it in, and start the new version when asked.
#pragma once

#include <stdexcept>
#include <string>

#include "updater/client/apply/package_unpack.h"
#include "updater/client/apply_request.h"

namespace VirelantDesktop::update_client {

// Why an apply did not happen; the helper acts on `kind` (apply_main.cpp).
// Whatever the kind, <root>/current is the installation that was there
// before, and no folder of this apply is left behind.
class ApplyError : public std::runtime_error {
 public:
  enum class Kind {
    kBusy,       // another helper holds the installation (and its restart)
    kUnchecked,  // the package is missing or no longer what the client checked
    kFailed,     // the checked package could not be installed, or did not start
  };
  ApplyError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// Returns a line for the log; throws ApplyError. A swap cut short by an
// earlier helper is recovered first (client_os.h, RestoreCurrentFolder).
// With `request.restart`, a new version that cannot be started is swapped
// out again.
std::string ApplyUpdate(const ApplyRequest& request, const UnpackLimits& limits = {});

}  // namespace VirelantDesktop::update_client
