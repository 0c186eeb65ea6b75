#include "modules/auth/loopback_flow.h"

#include <thread>

#include "platform/loopback_socket.h"

namespace VirelantDesktop::authlb {
namespace {

using Clock = std::chrono::steady_clock;

// Starts `work` on a detached thread; nothing it throws leaves the thread.
template <class Work>
bool StartThread(Work&& work) noexcept {
  try {
    std::thread([work = std::forward<Work>(work)]() mutable {
      try {
        work();
      } catch (...) {
      }
    }).detach();
    return true;
  } catch (...) {
    return false;
  }
}

Outcome StatusOnly(OutcomeStatus status) {
  Outcome outcome;
  outcome.status = status;
  return outcome;
}

}  // namespace

Flow::Flow(std::string state, std::string codeVerifier, std::string codeChallenge, bool requireState,
           std::chrono::milliseconds lifetime)
    : state_(std::move(state)),
      codeVerifier_(std::move(codeVerifier)),
      codeChallenge_(std::move(codeChallenge)),
      requireState_(requireState),
      deadline_(Clock::now() + lifetime) {}

bool Flow::FinalOutcome(Outcome& outcome) const {
  std::lock_guard lock(lock_);
  if (outcomeSet_) outcome = outcome_;
  return outcomeSet_;
}

bool StartListener(const std::shared_ptr<Flow>& flow) {
  platform::LoopbackListener listener;
  if (!platform::ListenOnLoopback(kListenBacklog, listener)) return false;
  flow->port_ = listener.port;
  flow->listenSocket_ = std::move(listener.socket);
  return StartThread([flow] { flow->ServerLoop(); });
}

bool CompleteOutcome(Flow& flow, Outcome outcome) {
  std::lock_guard lock(flow.lock_);
  if (flow.outcomeSet_) return false;
  flow.outcomeSet_ = true;
  flow.outcome_ = std::move(outcome);
  return true;
}

void CancelFlow(Flow& flow) {
  CompleteOutcome(flow, StatusOnly(OutcomeStatus::Canceled));
  std::unique_lock lock(flow.lock_);
  flow.finished_.wait_for(lock, kCancelWait, [&flow] { return flow.serverDone_; });
}

void Flow::ServerLoop() {
  for (;;) {
    {
      std::lock_guard lock(lock_);
      if (outcomeSet_) break;
    }
    if (Clock::now() >= deadline_) {
      CompleteOutcome(*this, StatusOnly(OutcomeStatus::Timeout));
      break;
    }
    const auto wait = platform::WaitReadable(listenSocket_, static_cast<int>(kAcceptPoll.count()));
    if (wait == platform::WaitResult::TimedOut) continue;
    if (wait == platform::WaitResult::Failed) {
      Outcome failed = StatusOnly(OutcomeStatus::Error);
      failed.error = "listen_failed";
      CompleteOutcome(*this, std::move(failed));
      break;
    }
    platform::UniqueFd connection = platform::AcceptConnection(listenSocket_);
    if (!connection) continue;
    const int previous = activeHandlers_.fetch_add(1);
    if (previous >= kMaxConnectionThreads) {
      activeHandlers_.fetch_sub(1);
      continue;  // closed without an answer
    }
    int peak = peakHandlers_.load();
    while (previous + 1 > peak && !peakHandlers_.compare_exchange_weak(peak, previous + 1)) {
    }
    auto self = shared_from_this();
    auto socket = std::make_shared<platform::UniqueFd>(std::move(connection));
    if (!StartThread([self, socket] {
          struct Leave {
            Flow& flow;
            ~Leave() { flow.activeHandlers_.fetch_sub(1); }
          } leave{*self};
          self->HandleConnection(std::move(*socket));
        })) {
      activeHandlers_.fetch_sub(1);
    }
  }
  listenSocket_.Reset();
  Outcome final;
  {
    std::lock_guard lock(lock_);
    serverDone_ = true;
    final = outcome_;
  }
  finished_.notify_all();
  if (onComplete) {
    try {
      onComplete(final);
    } catch (...) {
    }
  }
}

bool Flow::ClaimAnswer(const Outcome& outcome) {
  std::lock_guard lock(lock_);
  if (outcomeSet_ || responseClaimed_) return false;
  responseClaimed_ = true;
  // Recorded with the claim, before the page goes out: a cancel or the
  // deadline arriving while the browser already shows "Signed in" cannot
  // replace it any more.
  outcomeSet_ = true;
  outcome_ = outcome;
  return true;
}

void Flow::HandleConnection(platform::UniqueFd connection) {
  std::string buffer;
  const auto connectionDeadline = Clock::now() + kHeaderDeadline;
  char chunk[kReceiveChunk];
  for (;;) {
    if (buffer.size() >= 4 && buffer.find("\r\n\r\n") != std::string::npos) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(connectionDeadline - Clock::now());
    if (left.count() < 1) break;
    const long n = platform::ReceiveSome(connection, chunk, sizeof chunk, static_cast<int>(left.count()));
    if (n <= 0) break;
    buffer.append(chunk, static_cast<size_t>(n));
    if (buffer.size() >= kRequestCap) break;
  }

  const ParsedRequest request = ParseRequest(buffer);
  const bool counted = [&] {
    if (!request.ok || buffer.find("\r\n\r\n") == std::string::npos) return false;
    if (!request.isGet || request.path != "/" || !HostMatches(request.host, port_)) return false;
    return true;
  }();
  std::optional<std::string> code, ott, error, state;
  if (counted) {
    code = QueryParam(request.query, "code");
    ott = QueryParam(request.query, "ott");
    error = QueryParam(request.query, "error");
    state = QueryParam(request.query, "state");
  }
  const bool hasParameter = code || ott || error;
  const bool stateOk = state ? ConstantTimeEquals(*state, state_) : !requireState_;
  if (counted && hasParameter && stateOk) {
    const Outcome outcome = OutcomeOfRedirect(error, code, ott, state.has_value(), codeVerifier_);
    if (ClaimAnswer(outcome)) {
      platform::SendAll(connection, OkAnswer(BuildResultPage(request.acceptLanguage)));
      platform::ShutdownSending(connection);
      connection.Reset();
      if (onCallback && outcome.status != OutcomeStatus::Canceled) onCallback();
      return;
    }
  }
  platform::SendAll(connection, kNotFoundAnswer);
  platform::ShutdownSending(connection);
}

}  // namespace VirelantDesktop::authlb
