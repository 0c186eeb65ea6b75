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
  ended_.notify_all();
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
  ended_.notify_all();
  if (settle) settle(end);
  return true;
}

bool ShareState::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

bool ShareState::IsPending(uint64_t id) const {
  std::lock_guard lock(mutex_);
  return pending_ && id == shareId_;
}

void ShareState::WaitWhilePending(uint64_t id, std::chrono::steady_clock::duration duration) const {
  std::unique_lock lock(mutex_);
  ended_.wait_for(lock, duration, [&] { return !pending_ || id != shareId_; });
}

bool RunShareWatcher(ShareState& state, uint64_t id, const WatcherClock& clock,
                     std::chrono::steady_clock::duration timeout) {
  const auto deadline = clock.now() + timeout;
  for (auto now = clock.now(); now < deadline && state.IsPending(id); now = clock.now()) {
    if (clock.sleep) clock.sleep(deadline - now);
    else state.WaitWhilePending(id, deadline - now);
  }
  return state.Complete(id, false);
}

}  // namespace VirelantDesktop::share
