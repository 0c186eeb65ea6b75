#include "tests/support/fake_react_context.h"

namespace VirelantDesktop::testing {

struct FakeReactContext::State {
  mutable std::mutex mutex;  // guards events and uiQueue
  mutable std::condition_variable changed;
  std::vector<RecordedEvent> events;
  std::deque<std::function<void()>> uiQueue;
};

namespace {

class FakeDispatcher final : public UIDispatcher {
 public:
  FakeDispatcher(std::shared_ptr<FakeReactContext::State> state, bool queued)
      : state_(std::move(state)), queued_(queued) {}
  void Post(std::function<void()> action) noexcept override;

 private:
  std::shared_ptr<FakeReactContext::State> state_;
  bool queued_;
};

class FakeBackend final : public ReactContextBackend {
 public:
  FakeBackend(std::shared_ptr<FakeReactContext::State> state, std::shared_ptr<UIDispatcher> dispatcher)
      : state_(std::move(state)), dispatcher_(std::move(dispatcher)) {}

  void EmitJSEvent(std::string_view emitterName, std::string_view eventName, JSValue payload) noexcept override;
  std::shared_ptr<UIDispatcher> GetUIDispatcher() const noexcept override { return dispatcher_; }

 private:
  std::shared_ptr<FakeReactContext::State> state_;
  std::shared_ptr<UIDispatcher> dispatcher_;
};

}  // namespace
}  // namespace VirelantDesktop::testing

namespace VirelantDesktop::testing {
namespace {

void FakeDispatcher::Post(std::function<void()> action) noexcept {
  if (!queued_) {
    action();
    return;
  }
  std::lock_guard lock(state_->mutex);
  state_->uiQueue.push_back(std::move(action));
  state_->changed.notify_all();
}

void FakeBackend::EmitJSEvent(std::string_view emitterName, std::string_view eventName, JSValue payload) noexcept {
  std::lock_guard lock(state_->mutex);
  state_->events.push_back({std::string(emitterName), std::string(eventName), std::move(payload)});
  state_->changed.notify_all();
}

}  // namespace

FakeReactContext::FakeReactContext(UIMode mode) : state_(std::make_shared<State>()) {
  std::shared_ptr<UIDispatcher> dispatcher;
  if (mode != UIMode::None) dispatcher = std::make_shared<FakeDispatcher>(state_, mode == UIMode::Queued);
  context_ = ReactContext(std::make_shared<FakeBackend>(state_, std::move(dispatcher)));
}

std::vector<RecordedEvent> FakeReactContext::Events() const {
  std::lock_guard lock(state_->mutex);
  return state_->events;
}

bool FakeReactContext::WaitForEvents(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->events.size() >= count; });
}

size_t FakeReactContext::RunUIQueue() {
  size_t ran = 0;
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->uiQueue.empty()) return ran;
      action = std::move(state_->uiQueue.front());
      state_->uiQueue.pop_front();
    }
    action();
    ++ran;
  }
}

}  // namespace VirelantDesktop::testing
