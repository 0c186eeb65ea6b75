// A ReactContext for module tests that run without a JavaScript engine: it
// records every event and offers no, an inline, or a queued UI dispatcher.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/react_context.h"

namespace VirelantDesktop::testing {

struct RecordedEvent {
  std::string emitterName;
  std::string eventName;
  JSValue payload;
};

class FakeReactContext {
 public:
  enum class UIMode {
    None,    // no dispatcher: UI work runs on the calling thread
    Inline,  // Post runs the action at once
    Queued,  // Post queues; RunUIQueue() runs the queue on the test thread
  };

  explicit FakeReactContext(UIMode mode = UIMode::None);

  ReactContext Context() const { return context_; }

  std::vector<RecordedEvent> Events() const;
  // Waits until at least `count` events arrived.
  bool WaitForEvents(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // Runs queued UI actions (Queued mode) until none is left; returns how many ran.
  size_t RunUIQueue();

  struct State;

 private:
  std::shared_ptr<State> state_;
  ReactContext context_;
};

}  // namespace VirelantDesktop::testing
