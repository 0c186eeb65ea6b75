// A hold on the host's "something is still pending" counter.
//
// Long-lived producers (a process output reader, a socket listener, a worker)
// keep a token while they may still send events or settle promises, so that a
// host that exits when idle does not leave under them. A default-constructed
// token holds nothing; copies share one hold, released with the last copy.
#pragma once

#include <memory>

namespace VirelantDesktop {

class KeepAliveToken {
 public:
  KeepAliveToken() = default;
  explicit KeepAliveToken(std::shared_ptr<void> hold) : hold_(std::move(hold)) {}

  bool IsHeld() const noexcept { return hold_ != nullptr; }
  void Release() noexcept { hold_.reset(); }

 private:
  std::shared_ptr<void> hold_;
};

}  // namespace VirelantDesktop
