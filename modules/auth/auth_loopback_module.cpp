#include "modules/auth/auth_loopback_module.h"

#include <mutex>
#include <vector>

#include "bridge/module_registration.h"
#include "bridge/host_hooks.h"
#include "modules/auth/loopback_flow.h"
#include "modules/auth/pkce.h"
#include "modules/auth/sign_in.h"

namespace VirelantDesktop {
namespace authloop {

// One started flow's outcome and the "result" calls waiting for it.
struct Pending {
  std::mutex mutex;  // guards done, outcome, waiters
  bool done = false;
  authlb::Outcome outcome;
  std::vector<ReactPromise<JSValue>> waiters;
};

namespace {

constexpr const char* kInvalidRequest = "invalid_request";
constexpr const char* kBindFailed = "bind_failed";

// Shared by every module instance of the process.
struct AuthLoopbackState {
  std::mutex lock;  // guards the three below; never held while a flow is cancelled
  std::shared_ptr<authlb::Flow> currentFlow;
  std::shared_ptr<Pending> currentPending;
  uint64_t lastFlowId = 0;
};

AuthLoopbackState& State() {
  static AuthLoopbackState state;
  return state;
}

void CancelCurrentFlow() {
  std::shared_ptr<authlb::Flow> flow;
  {
    AuthLoopbackState& state = State();
    std::lock_guard lock(state.lock);
    flow = std::move(state.currentFlow);
  }
  if (flow) authlb::CancelFlow(*flow);
}

void Deliver(Pending& pending, const authlb::Outcome& outcome) {
  std::vector<ReactPromise<JSValue>> waiters;
  {
    std::lock_guard lock(pending.mutex);
    pending.done = true;
    pending.outcome = outcome;
    waiters.swap(pending.waiters);
  }
  const JSValue result = ResultObject(outcome);
  for (const auto& promise : waiters) promise.Resolve(result);
}

}  // namespace

JSValue ResultObject(const authlb::Outcome& outcome) {
  using authlb::OutcomeStatus;
  switch (outcome.status) {
    case OutcomeStatus::Ok:
      return {{"status", "ok"},
              {outcome.kind, outcome.value},
              {"codeVerifier", outcome.codeVerifier},
              {"stateVerified", outcome.stateVerified}};
    case OutcomeStatus::Error:
      return {{"status", "error"}, {"error", outcome.error}};
    case OutcomeStatus::Canceled:
      return {{"status", "canceled"}};
    case OutcomeStatus::Timeout:
      return {{"status", "timeout"}};
  }
  return {{"status", "error"}, {"error", "error"}};
}

}  // namespace authloop

using authloop::Pending;

void AuthLoopback::Describe(ModuleTable<AuthLoopback>& table) {
  table.Method("start", &AuthLoopback::start);
  table.Method("result", &AuthLoopback::result);
  table.Method("cancel", &AuthLoopback::cancel);
}

AuthLoopback::~AuthLoopback() { CancelSignInFlow(); }

void AuthLoopback::start(JSValue options, ReactPromise<JSValue> promise) noexcept {
  const auto provider = options.is_object() ? options.find("provider") : options.end();
  if (!options.is_object() || provider == options.end() || !provider->is_string() ||
      (*provider != "google" && *provider != "apple")) {
    promise.Reject(authloop::kInvalidRequest);
    return;
  }
  const bool requireState = *provider == "google";
  try {
    authloop::CancelCurrentFlow();
    auto pending = std::make_shared<Pending>();
    const auto state = authlb::MakeState();
    const auto verifier = authlb::MakeCodeVerifier();
    const auto challenge = verifier ? authlb::CodeChallengeFor(*verifier) : std::nullopt;
    if (!state || !verifier || !challenge) {
      promise.Reject(authloop::kBindFailed);
      return;
    }
    auto flow = std::make_shared<authlb::Flow>(*state, *verifier, *challenge, requireState);
    flow->onComplete = [pending](const authlb::Outcome& outcome) { authloop::Deliver(*pending, outcome); };
    flow->onCallback = [] { HostHooks::Get().CallShowMainWindow(); };
    if (!authlb::StartListener(flow)) {
      promise.Reject(authloop::kBindFailed);
      return;
    }
    uint64_t flowId;
    {
      authloop::AuthLoopbackState& shared = authloop::State();
      std::lock_guard lock(shared.lock);
      flowId = ++shared.lastFlowId;
      shared.currentFlow = flow;
      shared.currentPending = pending;
    }
    promise.Resolve({{"flowId", flowId},
                     {"port", flow->port()},
                     {"redirectUri", "http://127.0.0.1:" + std::to_string(flow->port()) + "/"},
                     {"state", flow->state()},
                     {"codeChallenge", flow->codeChallenge()}});
  } catch (...) {
    promise.Reject(authloop::kBindFailed);
  }
}

void AuthLoopback::result(int64_t flowId, ReactPromise<JSValue> promise) noexcept {
  try {
    std::shared_ptr<Pending> pending;
    {
      authloop::AuthLoopbackState& shared = authloop::State();
      std::lock_guard lock(shared.lock);
      if (flowId > 0 && static_cast<uint64_t>(flowId) == shared.lastFlowId) pending = shared.currentPending;
    }
    if (!pending) {
      promise.Resolve({{"status", "canceled"}});
      return;
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->done) {
      pending->waiters.push_back(promise);
      return;
    }
    const authlb::Outcome outcome = pending->outcome;
    lock.unlock();
    promise.Resolve(authloop::ResultObject(outcome));
  } catch (...) {
    promise.Resolve({{"status", "error"}, {"error", "error"}});
  }
}

void AuthLoopback::cancel(ReactPromise<bool> promise) noexcept {
  CancelSignInFlow();
  promise.Resolve(true);
}

void CancelSignInFlow() noexcept {
  try {
    authloop::CancelCurrentFlow();
  } catch (...) {
  }
}

TALVEK_REGISTER_MODULE(AuthLoopback, "AuthLoopback");

}  // namespace VirelantDesktop
