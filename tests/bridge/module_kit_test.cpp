#include "bridge/module_kit.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "tests/support/fake_react_context.h"
#include "tests/support/promise_probe.h"

namespace VirelantDesktop {
namespace {

using testing::FakeReactContext;
using testing::PromiseProbe;

TEST(RunOnWorker, SettlesFromAnotherThread) {
  PromiseProbe probe;
  const auto caller = std::this_thread::get_id();
  RunOnWorker(probe.Promise<bool>(), "worker_failed", [caller](ReactPromise<bool>& p) {
    p.Resolve(std::this_thread::get_id() != caller);
  });
  ASSERT_TRUE(probe.WaitSettled());
  EXPECT_EQ(probe.Value(), JSValue(true));
}

TEST(RunOnWorker, ThrowingWork_RejectsWithTheModuleCode) {
  PromiseProbe probe;
  RunOnWorker(probe.Promise<bool>(), "write_failed", [](ReactPromise<bool>&) { throw std::runtime_error("disk"); });
  ASSERT_TRUE(probe.WaitSettled());
  ASSERT_TRUE(probe.IsRejected());
  EXPECT_EQ(probe.Error().code, "write_failed");
  EXPECT_EQ(probe.Error().message, "write_failed");
}

TEST(RunOnWorker, WorkThatNeverSettles_RejectsAsDestroyed) {
  PromiseProbe probe;
  RunOnWorker(probe.Promise<bool>(), "x", [](ReactPromise<bool>&) {});
  ASSERT_TRUE(probe.WaitSettled());
  EXPECT_EQ(probe.Error().code, "EUNSPECIFIED");
  EXPECT_EQ(probe.Error().message, "Promise destroyed.");
}

TEST(RunOnUI, WithoutDispatcher_RunsAtOnce) {
  bool ran = false;
  RunOnUI(ReactContext(), [&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(RunOnUI, WithDispatcher_PostsInOrder) {
  FakeReactContext fake(FakeReactContext::UIMode::Queued);
  std::vector<int> order;
  RunOnUI(fake.Context(), [&] { order.push_back(1); });
  RunOnUI(fake.Context(), [&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(fake.RunUIQueue(), 2u);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(EmitModuleEvent, BeforeTheInitializer_IsDroppedSilently) {
  ModuleEventSlot slot;
  EXPECT_FALSE(slot.HasContext());
  EmitModuleEvent(slot, "Media.progress", JSValue{{"x", 1}});  // no crash, nothing sent
  FakeReactContext fake;
  slot.Store(fake.Context());
  EXPECT_TRUE(fake.Events().empty());
}

TEST(EmitModuleEvent, AfterTheInitializer_GoesThroughTheEmitter) {
  FakeReactContext fake;
  ModuleEventSlot slot;
  slot.Store(fake.Context());
  EmitModuleEvent(slot, "Shell.windowVisibility", JSValue{{"visible", true}});
  auto events = fake.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].emitterName, "RCTDeviceEventEmitter");
  EXPECT_EQ(events[0].eventName, "Shell.windowVisibility");
  EXPECT_EQ(events[0].payload, (JSValue{{"visible", true}}));
}

TEST(EmitModuleEvent, FromManyThreads_KeepsEachThreadsOrder) {
  FakeReactContext fake;
  ModuleEventSlot slot;
  slot.Store(fake.Context());
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&slot, t] {
      for (int i = 0; i < kEach; ++i) EmitModuleEvent(slot, "X.e", JSValue{{"t", t}, {"i", i}});
    });
  }
  for (auto& thread : threads) thread.join();
  auto events = fake.Events();
  ASSERT_EQ(events.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const auto& event : events) {
    int t = event.payload["t"];
    EXPECT_EQ(event.payload["i"].get<int>(), next[t]++);
  }
}

}  // namespace
}  // namespace VirelantDesktop
