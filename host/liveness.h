// The host's one count of what is still pending: queued tasks, live timers,
// unsettled native promises (until their settle has run on the JS thread),
// workers started through the bridge and keep-alive tokens. A host that exits
// when idle leaves when the count falls to zero after it was armed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "bridge/keep_alive.h"

namespace VirelantDesktop::host {

class Liveness : public std::enable_shared_from_this<Liveness> {
 public:
  // `onIdle` runs on whichever thread released the last unit, possibly more
  // than once; it must be thread-safe and cheap (post, don't work).
  explicit Liveness(std::function<void()> onIdle = {}) : onIdle_(std::move(onIdle)) {}

  void Acquire() noexcept { count_.fetch_add(1, std::memory_order_acq_rel); }
  void Release() noexcept;
  // From now on, reaching zero calls onIdle (at once if already zero).
  void Arm() noexcept;
  int64_t Count() const noexcept { return count_.load(std::memory_order_acquire); }

  // One unit held until the last copy of the token is gone.
  KeepAliveToken Token();

 private:
  std::atomic<int64_t> count_{0};
  std::atomic<bool> armed_{false};
  std::function<void()> onIdle_;
};

}  // namespace VirelantDesktop::host
