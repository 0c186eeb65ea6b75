// A promise whose outcome a test can wait for and inspect, without a
// JavaScript engine behind it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "bridge/react_promise.h"

namespace VirelantDesktop::testing {

class PromiseProbe {
 public:
  PromiseProbe();

  // The promise to hand to the code under test (one per probe).
  template <class T>
  ReactPromise<T> Promise() {
    return ReactPromise<T>(MakeState());
  }
  PromiseStatePtr MakeState();

  // Waits until the sink received its outcome.
  bool WaitSettled(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  // Waits until the work that held the promise (worker threads started for
  // it) has ended, so a test does not end under it.
  bool WaitReleased(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

  bool IsResolved() const;
  bool IsRejected() const;
  JSValue Value() const;
  PromiseError Error() const;
  // How often the sink was called; the settle-once rule keeps it at most 1.
  int Deliveries() const;

  struct Outcome;

 private:
  std::shared_ptr<Outcome> outcome_;
};

}  // namespace VirelantDesktop::testing
