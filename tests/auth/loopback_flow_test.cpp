// The listener over real loopback sockets.
#include "modules/auth/loopback_flow.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <thread>

#include "platform/loopback_socket.h"

namespace VirelantDesktop::authlb {
namespace {

using namespace std::chrono_literals;

const std::string kState(43, 's');

// Sends `request` and reads the answer until the server closes.
std::string Exchange(uint16_t port, const std::string& request) {
  platform::UniqueFd socket = platform::ConnectToLoopback(port);
  EXPECT_TRUE(socket);
  platform::SendAll(socket, request);
  platform::ShutdownSending(socket);  // an unfinished request ends here, not after 10 s
  std::string answer;
  char buffer[4096];
  long n;
  while ((n = platform::ReceiveSome(socket, buffer, sizeof buffer, 5000)) > 0) answer.append(buffer, n);
  return answer;
}

std::string Get(uint16_t port, const std::string& target, const std::string& headers = "") {
  return Exchange(port, "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n");
}

std::string Host(uint16_t port, const std::string& name = "127.0.0.1") {
  return "Host: " + name + ":" + std::to_string(port) + "\r\n";
}

bool IsPage(const std::string& answer) { return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0; }
bool IsNotFound(const std::string& answer) { return answer == kNotFoundAnswer; }

class LoopbackFlowTest : public ::testing::Test {
 protected:
  std::shared_ptr<Flow> Start(bool requireState = true, std::chrono::milliseconds lifetime = kFlowLifetime) {
    auto flow = std::make_shared<Flow>(kState, "verifier", "challenge", requireState, lifetime);
    flow->onComplete = [completed = completed_](const Outcome& outcome) { completed->set_value(outcome); };
    flow->onCallback = [callbacks = callbacks_] { ++*callbacks; };
    EXPECT_TRUE(StartListener(flow));
    EXPECT_NE(flow->port(), 0);
    return flow;
  }
  Outcome Completed() {
    auto future = completed_->get_future();
    EXPECT_EQ(future.wait_for(10s), std::future_status::ready);
    return future.get();
  }
  // Shared with the flow's threads, which may outlive a test body.
  std::shared_ptr<std::promise<Outcome>> completed_ = std::make_shared<std::promise<Outcome>>();
  std::shared_ptr<std::atomic<int>> callbacks_ = std::make_shared<std::atomic<int>>(0);
  // The callback runs after the page went out: wait for it.
  int Callbacks(int expected) {
    for (int i = 0; i < 200 && *callbacks_ < expected; ++i) std::this_thread::sleep_for(5ms);
    return *callbacks_;
  }
};

TEST_F(LoopbackFlowTest, AValidRedirectIsAnsweredRecordedOnceAndEndsTheFlow) {
  auto flow = Start();
  const uint16_t port = flow->port();
  EXPECT_TRUE(IsNotFound(Get(port, "/?code=x&state=" + kState, "Host: 127.0.0.1\r\n"))) << "no port";
  EXPECT_TRUE(IsNotFound(Get(port, "/other?code=x&state=" + kState, Host(port))));
  EXPECT_TRUE(IsNotFound(Exchange(port, "POST /?code=x&state=" + kState + " HTTP/1.1\r\n" + Host(port) + "\r\n")));
  EXPECT_TRUE(IsNotFound(Get(port, "/?state=" + kState, Host(port)))) << "no code, ott or error";
  EXPECT_TRUE(IsNotFound(Get(port, "/?code=x", Host(port)))) << "state required";
  EXPECT_TRUE(IsNotFound(Get(port, "/?code=x&state=" + std::string(43, 't'), Host(port))));
  EXPECT_TRUE(IsNotFound(Exchange(port, "GET /?code=x&state=" + kState + " HTTP/1.1\r\n" + Host(port))))
      << "headers never ended";

  // A second browser tab, connected before the first redirect is answered.
  platform::UniqueFd late = platform::ConnectToLoopback(port);
  for (int i = 0; i < 100 && flow->PeakHandlers() < 1; ++i) std::this_thread::sleep_for(5ms);
  const std::string page = Get(port, "/?code=%2B+&ott=o&state=" + kState, Host(port, "LOCALHOST") +
                                         "Accept-Language: zh-TW\r\n");
  EXPECT_TRUE(IsPage(page));
  EXPECT_NE(page.find("登录成功"), std::string::npos);
  const Outcome outcome = Completed();
  EXPECT_EQ(outcome.status, OutcomeStatus::Ok);
  EXPECT_EQ(outcome.kind, "code");
  EXPECT_EQ(outcome.value, "++");
  EXPECT_EQ(outcome.codeVerifier, "verifier");
  EXPECT_TRUE(outcome.stateVerified);
  EXPECT_EQ(Callbacks(1), 1);
  platform::SendAll(late, "GET /?code=other&state=" + kState + " HTTP/1.1\r\n\r\n");
  char answer[128] = {};
  platform::ReceiveSome(late, answer, sizeof answer - 1, 5000);
  EXPECT_EQ(std::string(answer), kNotFoundAnswer) << "a second redirect changes nothing";
  Outcome still;
  ASSERT_TRUE(flow->FinalOutcome(still));
  EXPECT_EQ(still.value, "++");
  EXPECT_FALSE(platform::ConnectToLoopback(port)) << "the listener is closed";
}

TEST_F(LoopbackFlowTest, WithoutHostAndWithoutRequiredStateItSucceedsUnverified) {
  auto flow = Start(/*requireState=*/false);
  EXPECT_TRUE(IsPage(Get(flow->port(), "/?ott=t0")));
  const Outcome outcome = Completed();
  EXPECT_EQ(outcome.kind, "ott");
  EXPECT_FALSE(outcome.stateVerified);
}

TEST_F(LoopbackFlowTest, AccessDeniedIsCanceledWithThePageAndNoCallback) {
  auto flow = Start();
  EXPECT_TRUE(IsPage(Get(flow->port(), "/?error=access_denied&state=" + kState, Host(flow->port()))));
  EXPECT_EQ(Completed().status, OutcomeStatus::Canceled);
  EXPECT_EQ(Callbacks(0), 0);
}

TEST_F(LoopbackFlowTest, DeadlineAndCancel) {
  auto flow = Start(true, 150ms);
  EXPECT_EQ(Completed().status, OutcomeStatus::Timeout);

  completed_ = std::make_shared<std::promise<Outcome>>();
  auto second = Start();
  const auto before = std::chrono::steady_clock::now();
  CancelFlow(*second);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_EQ(Completed().status, OutcomeStatus::Canceled);
  EXPECT_FALSE(CompleteOutcome(*second, Outcome{})) << "the first completion wins";
}

TEST_F(LoopbackFlowTest, AnAnsweredRedirectKeepsItsOutcomeAgainstALateCancel) {
  auto flow = std::make_shared<Flow>(kState, "v", "c", true);
  // Shared with the connection thread, which may outlive this test body.
  auto entered = std::make_shared<std::promise<void>>();
  auto enteredFuture = entered->get_future();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  flow->onCallback = [entered, released] {
    entered->set_value();
    released.wait();  // the browser shows "Signed in" by now
  };
  flow->onComplete = [completed = completed_](const Outcome& outcome) { completed->set_value(outcome); };
  ASSERT_TRUE(StartListener(flow));
  auto answer = std::async(std::launch::async, [&] { return Get(flow->port(), "/?code=c&state=" + kState); });
  enteredFuture.wait();
  CancelFlow(*flow);
  release.set_value();
  EXPECT_TRUE(IsPage(answer.get()));
  EXPECT_EQ(Completed().status, OutcomeStatus::Ok);
}

TEST_F(LoopbackFlowTest, ANinthConnectionIsClosedUnansweredAndTheFlowStillListens) {
  auto flow = Start();
  std::vector<platform::UniqueFd> idle;
  for (int i = 0; i < kMaxConnectionThreads; ++i) idle.push_back(platform::ConnectToLoopback(flow->port()));
  for (int i = 0; i < 100 && flow->PeakHandlers() < kMaxConnectionThreads; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(flow->PeakHandlers(), kMaxConnectionThreads);
  EXPECT_EQ(Get(flow->port(), "/?code=c&state=" + kState), "") << "closed without an answer";
  idle.clear();  // the idle connections end; their threads go
  std::string answer;
  for (int i = 0; i < 50 && !IsPage(answer); ++i) {
    answer = Get(flow->port(), "/?code=c&state=" + kState);
    if (!IsPage(answer)) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(IsPage(answer));
  EXPECT_EQ(Completed().value, "c");
  EXPECT_LE(flow->PeakHandlers(), kMaxConnectionThreads);
}

}  // namespace
}  // namespace VirelantDesktop::authlb
