#include "tests/support/promise_probe.h"

namespace VirelantDesktop::testing {

struct PromiseProbe::Outcome {
  mutable std::mutex mutex;  // guards everything below
  mutable std::condition_variable settled;
  int deliveries = 0;
  int holds = 0;  // KeepAliveTokens taken from the promise and still alive
  bool resolved = false;
  JSValue value;
  PromiseError error;
};

namespace {

class ProbeSink final : public PromiseSink {
 public:
  explicit ProbeSink(std::shared_ptr<PromiseProbe::Outcome> outcome) : outcome_(std::move(outcome)) {}

  void Resolve(JSValue value) noexcept override {
    std::lock_guard lock(outcome_->mutex);
    ++outcome_->deliveries;
    outcome_->resolved = true;
    outcome_->value = std::move(value);
    outcome_->settled.notify_all();
  }
  void Reject(PromiseError error) noexcept override {
    std::lock_guard lock(outcome_->mutex);
    ++outcome_->deliveries;
    outcome_->resolved = false;
    outcome_->error = std::move(error);
    outcome_->settled.notify_all();
  }
  // Work that holds the promise (a worker thread) is counted until it ends.
  KeepAliveToken KeepAlive() noexcept override {
    try {
      auto outcome = outcome_;
      {
        std::lock_guard lock(outcome->mutex);
        ++outcome->holds;
      }
      return KeepAliveToken(std::shared_ptr<void>(static_cast<void*>(outcome.get()), [outcome](void*) {
        std::lock_guard lock(outcome->mutex);
        --outcome->holds;
        outcome->settled.notify_all();
      }));
    } catch (...) {
      return {};
    }
  }

 private:
  std::shared_ptr<PromiseProbe::Outcome> outcome_;
};

}  // namespace

PromiseProbe::PromiseProbe() : outcome_(std::make_shared<Outcome>()) {}

PromiseStatePtr PromiseProbe::MakeState() { return std::make_shared<PromiseState>(std::make_unique<ProbeSink>(outcome_)); }

bool PromiseProbe::WaitSettled(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(outcome_->mutex);
  return outcome_->settled.wait_for(lock, timeout, [&] { return outcome_->deliveries > 0; });
}

bool PromiseProbe::WaitReleased(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(outcome_->mutex);
  return outcome_->settled.wait_for(lock, timeout, [&] { return outcome_->holds == 0; });
}

bool PromiseProbe::IsResolved() const {
  std::lock_guard lock(outcome_->mutex);
  return outcome_->deliveries > 0 && outcome_->resolved;
}

bool PromiseProbe::IsRejected() const {
  std::lock_guard lock(outcome_->mutex);
  return outcome_->deliveries > 0 && !outcome_->resolved;
}

JSValue PromiseProbe::Value() const {
  std::lock_guard lock(outcome_->mutex);
  return outcome_->value;
}

PromiseError PromiseProbe::Error() const {
  std::lock_guard lock(outcome_->mutex);
  return outcome_->error;
}

int PromiseProbe::Deliveries() const {
  std::lock_guard lock(outcome_->mutex);
  return outcome_->deliveries;
}

}  // namespace VirelantDesktop::testing
