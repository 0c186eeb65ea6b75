#include "bridge/react_promise.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/promise_probe.h"

namespace VirelantDesktop {
namespace {

using testing::PromiseProbe;

TEST(ReactPromise, Resolve_ThenReject_DeliversOnlyTheResolution) {
  PromiseProbe probe;
  auto promise = probe.Promise<bool>();
  EXPECT_TRUE(promise.Resolve(true));
  EXPECT_FALSE(promise.Reject("late"));
  EXPECT_FALSE(promise.Resolve(false));
  ASSERT_TRUE(probe.IsResolved());
  EXPECT_EQ(probe.Value(), JSValue(true));
  EXPECT_EQ(probe.Deliveries(), 1);
  EXPECT_FALSE(promise.IsPending());
}

TEST(ReactPromise, Reject_ThenResolve_DeliversOnlyTheRejection) {
  PromiseProbe probe;
  auto promise = probe.Promise<std::string>();
  EXPECT_TRUE(promise.Reject("not_found"));
  EXPECT_FALSE(promise.Resolve("x"));
  ASSERT_TRUE(probe.IsRejected());
  EXPECT_EQ(probe.Error().code, "not_found");
  EXPECT_EQ(probe.Error().message, "not_found");  // the code doubles as message
  EXPECT_EQ(probe.Error().userInfo, JSValue(JSValueObject{}));
  EXPECT_EQ(probe.Deliveries(), 1);
}

TEST(ReactPromise, ConcurrentSettles_ExactlyOneWins) {
  for (int round = 0; round < 50; ++round) {
    PromiseProbe probe;
    auto promise = probe.Promise<int64_t>();
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([promise, i, &winners] {
        bool won = i % 2 == 0 ? promise.Resolve(i) : promise.Reject("lost");
        if (won) ++winners;
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(winners.load(), 1);
    EXPECT_EQ(probe.Deliveries(), 1);
  }
}

TEST(ReactPromise, LastCopyDestroyedWhilePending_RejectsAsDestroyed) {
  PromiseProbe probe;
  {
    auto promise = probe.Promise<JSValue>();
    auto copy = promise;
    promise = ReactPromise<JSValue>();
    EXPECT_EQ(probe.Deliveries(), 0) << "a copy is still alive";
  }
  ASSERT_TRUE(probe.IsRejected());
  EXPECT_EQ(probe.Error().code, "EUNSPECIFIED");
  EXPECT_EQ(probe.Error().message, "Promise destroyed.");
  EXPECT_TRUE(probe.Error().userInfo.is_null());
}

TEST(ReactPromise, DestroyedOnAnotherThread_RejectsOnce) {
  PromiseProbe probe;
  auto promise = probe.Promise<JSValue>();
  std::thread([p = std::move(promise)] {}).join();
  EXPECT_EQ(probe.Deliveries(), 1);
  EXPECT_EQ(probe.Error().message, "Promise destroyed.");
}

TEST(ReactPromise, DestroyedAfterSettling_DeliversNothingMore) {
  PromiseProbe probe;
  { probe.Promise<JSValue>().Resolve("done"); }
  EXPECT_EQ(probe.Deliveries(), 1);
  EXPECT_TRUE(probe.IsResolved());
}

TEST(ReactPromise, EmptyHandle_IgnoresEverySettle) {
  ReactPromise<bool> empty;
  EXPECT_FALSE(empty.Resolve(true));
  EXPECT_FALSE(empty.Reject("x"));
  EXPECT_FALSE(empty.IsPending());
  EXPECT_FALSE(empty.KeepAlive().IsHeld());
}

TEST(PromiseError, RejectionObject_HasExactlyThreeKeysInOrder) {
  struct Case {
    PromiseError error;
    const char* code;
    const char* message;
    JSValue userInfo;
  };
  const Case cases[] = {
      {{"invalid_url", "Bad URL"}, "invalid_url", "Bad URL", JSValueObject{}},
      {{"", "text"}, "EUNSPECIFIED", "text", JSValueObject{}},
      {{"code", ""}, "code", "Error not specified.", JSValueObject{}},
      {{"", ""}, "EUNSPECIFIED", "Error not specified.", JSValueObject{}},
      {{"EUNSPECIFIED", "Promise destroyed.", nullptr}, "EUNSPECIFIED", "Promise destroyed.", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error.code + "/" + c.error.message);
    JSValue object = MakeRejectionObject(c.error);
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"code", "message", "userInfo"}));
    EXPECT_EQ(object["code"], c.code);
    EXPECT_EQ(object["message"], c.message);
    EXPECT_EQ(object["userInfo"], c.userInfo);
  }
}

}  // namespace
}  // namespace VirelantDesktop
