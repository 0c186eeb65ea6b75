#include "modules/share/share_state.h"

namespace VirelantDesktop::share {

uint64_t ShareState::Begin(ShareSettle settle) {
  ShareSettle replaced;
  uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (pending_) replaced = std::move(settle_);
    id = ++shareId_;
    settle_ = std::move(settle);
    pending_ = true;
  }
  if (replaced) replaced(ShareEnd{false, nullptr});
  return id;
}

bool ShareState::Complete(uint64_t id, bool completed) { return End(id, ShareEnd{completed, nullptr}); }

bool ShareState::Fail(uint64_t id, const char* code) { return End(id, ShareEnd{false, code}); }

bool ShareState::End(uint64_t id, const ShareEnd& end) {
  ShareSettle settle;
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || id != shareId_) return false;
    pending_ = false;
    settle = std::move(settle_);
    settle_ = nullptr;
  }
  if (settle) settle(end);
  return true;
}

bool ShareState::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

bool RunShareWatcher(ShareState& state, uint64_t id, const WatcherClock& clock,
                     std::chrono::steady_clock::duration timeout) {
  const auto deadline = clock.now() + timeout;
  for (auto now = clock.now(); now < deadline; now = clock.now()) clock.sleep(deadline - now);
  return state.Complete(id, false);
}

}  // namespace VirelantDesktop::share
