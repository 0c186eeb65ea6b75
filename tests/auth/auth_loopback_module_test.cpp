#include "modules/auth/auth_loopback_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "bridge/host_hooks.h"
#include "platform/loopback_socket.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

using namespace std::chrono_literals;
using testing::ModuleUnderTest;

int Redirect(uint16_t port, const std::string& query) {
  platform::UniqueFd socket = platform::ConnectToLoopback(port);
  platform::SendAll(socket, "GET /?" + query + " HTTP/1.1\r\n\r\n");
  platform::ShutdownSending(socket);
  char buffer[16] = {};
  platform::ReceiveSome(socket, buffer, 12, 5000);
  return std::string(buffer).rfind("HTTP/1.1 200", 0) == 0 ? 200 : 404;
}

class AuthLoopbackTest : public ::testing::Test {
 protected:
  void TearDown() override { auth_.Call("cancel"); }
  JSValue Start(const std::string& provider) {
    auto probe = auth_.Call("start", {{{"provider", provider}}});
    EXPECT_TRUE(probe->WaitSettled(5s));
    EXPECT_TRUE(probe->IsResolved()) << probe->Error().code;
    return probe->IsResolved() ? probe->Value() : JSValue();
  }
  JSValue Result(const JSValue& flowId, std::chrono::milliseconds timeout = 5s) {
    auto probe = auth_.Call("result", {flowId});
    EXPECT_TRUE(probe->WaitSettled(timeout));
    return probe->Value();
  }
  ModuleUnderTest auth_{"AuthLoopback"};
};

const JSValue kCanceled = {{"status", "canceled"}};

TEST_F(AuthLoopbackTest, BadOptionsAreRefused) {
  for (const JSValue& options : {JSValue{{"provider", "Google"}}, JSValue{{"provider", 1}}, JSValue::object(),
                                 JSValue("google"), JSValue(nullptr)}) {
    auto probe = auth_.Call("start", {options});
    EXPECT_EQ(probe->Error().code, "invalid_request") << options.dump();
    EXPECT_EQ(probe->Error().message, "invalid_request");
  }
  EXPECT_EQ(Result(1), kCanceled) << "no flow yet";
  EXPECT_EQ(auth_.Call("cancel")->Value(), JSValue(true)) << "nothing to cancel";
}

TEST_F(AuthLoopbackTest, AnAppleFlowWithoutStateSucceedsUnverifiedAndShowsTheWindow) {
  auto shown = std::make_shared<std::atomic<int>>(0);  // the hook may run after this test
  HostHookFunctions hooks;
  hooks.showMainWindow = [shown] { ++*shown; };
  HostHooks::Get().Install(hooks);
  const JSValue started = Start("apple");
  const uint16_t port = started["port"].get<uint16_t>();
  EXPECT_EQ(started["redirectUri"], "http://127.0.0.1:" + std::to_string(port) + "/");
  EXPECT_EQ(started["state"].get<std::string>().size(), 43u);
  EXPECT_EQ(started["codeChallenge"].get<std::string>().size(), 43u);

  auto waiting = auth_.Call("result", {started["flowId"]});
  EXPECT_EQ(Redirect(port, "code=abc"), 200);
  ASSERT_TRUE(waiting->WaitSettled(5s));
  const JSValue result = waiting->Value();
  EXPECT_EQ(result["status"], "ok");
  EXPECT_EQ(result["code"], "abc");
  EXPECT_FALSE(result["stateVerified"].get<bool>());
  EXPECT_EQ(result["codeVerifier"].get<std::string>().size(), 64u);
  EXPECT_EQ(Result(started["flowId"]), result) << "asked again: the same outcome";
  for (int i = 0; i < 200 && *shown == 0; ++i) std::this_thread::sleep_for(5ms);  // after the page went out
  EXPECT_EQ(*shown, 1);
  HostHooks::Get().Install({});
}

TEST_F(AuthLoopbackTest, AGoogleFlowRefusesARedirectWithoutState) {
  const JSValue started = Start("google");
  EXPECT_EQ(Redirect(started["port"].get<uint16_t>(), "code=abc"), 404);
  auto waiting = auth_.Call("result", {started["flowId"]});
  EXPECT_FALSE(waiting->WaitSettled(200ms)) << "still waiting";
  EXPECT_EQ(Redirect(started["port"].get<uint16_t>(),
                     "error=temporarily_unavailable&state=" + started["state"].get<std::string>()),
            200);
  ASSERT_TRUE(waiting->WaitSettled(5s));
  EXPECT_EQ(waiting->Value(), (JSValue{{"status", "error"}, {"error", "temporarily_unavailable"}}));
}

TEST_F(AuthLoopbackTest, ASecondStartCancelsTheFirst) {
  const JSValue first = Start("google");
  auto waiting = auth_.Call("result", {first["flowId"]});
  const JSValue second = Start("apple");
  EXPECT_EQ(second["flowId"].get<uint64_t>(), first["flowId"].get<uint64_t>() + 1);
  ASSERT_TRUE(waiting->WaitSettled(5s));
  EXPECT_EQ(waiting->Value(), kCanceled);
  EXPECT_EQ(Result(first["flowId"]), kCanceled) << "an older id answers at once";
  auto current = auth_.Call("result", {second["flowId"]});
  EXPECT_EQ(auth_.Call("cancel")->Value(), JSValue(true));
  ASSERT_TRUE(current->WaitSettled(5s));
  EXPECT_EQ(current->Value(), kCanceled);
}

}  // namespace
}  // namespace VirelantDesktop
