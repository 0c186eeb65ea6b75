#include "bridge/react_promise.h"

namespace VirelantDesktop {

PromiseState::~PromiseState() {
  if (Claim(PromiseStatus::Rejected)) {
    sink_->Reject(PromiseError{kUnspecifiedCode, kPromiseDestroyedMessage, nullptr});
  }
}

bool PromiseState::Claim(PromiseStatus outcome) noexcept {
  PromiseStatus expected = PromiseStatus::Pending;
  return status_.compare_exchange_strong(expected, outcome, std::memory_order_acq_rel) && sink_;
}

bool PromiseState::TryResolve(JSValue value) noexcept {
  if (!Claim(PromiseStatus::Resolved)) return false;
  sink_->Resolve(std::move(value));
  return true;
}

bool PromiseState::TryReject(PromiseError error) noexcept {
  if (!Claim(PromiseStatus::Rejected)) return false;
  sink_->Reject(std::move(error));
  return true;
}

}  // namespace VirelantDesktop
