#include "host/liveness.h"

namespace VirelantDesktop::host {

void Liveness::Release() noexcept {
  if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1 && armed_.load(std::memory_order_acquire) && onIdle_) {
    onIdle_();
  }
}

void Liveness::Arm() noexcept {
  armed_.store(true, std::memory_order_release);
  if (count_.load(std::memory_order_acquire) == 0 && onIdle_) onIdle_();
}

KeepAliveToken Liveness::Token() {
  Acquire();
  auto self = shared_from_this();
  return KeepAliveToken(std::shared_ptr<void>(nullptr, [self](void*) { self->Release(); }));
}

}  // namespace VirelantDesktop::host
