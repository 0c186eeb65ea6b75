#include "app/host_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace VirelantDesktop {
namespace {

TEST(HostState, QuittingIsSetOnceAndNeverCleared) {
  HostState state;
  EXPECT_FALSE(state.IsQuitting());
  std::atomic<int> winners{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { winners += state.SetQuitting() ? 1 : 0; });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(winners.load(), 1) << "the quit sequence runs once";
  EXPECT_TRUE(state.IsQuitting());
}

TEST(HostState, HooksAreCalledOnlyWhenSet) {
  HostState state;
  EXPECT_FALSE(state.CallRequestQuit());
  EXPECT_FALSE(state.CallApplyCaptionTheme(true));
  int quits = 0;
  bool resizable = true;
  state.InstallHooks({[&] { ++quits; }, nullptr, [&](bool value) { resizable = value; }, nullptr});
  EXPECT_TRUE(state.CallRequestQuit());
  EXPECT_FALSE(state.CallShowMainWindow());
  EXPECT_TRUE(state.CallApplyWindowResizable(false));
  EXPECT_FALSE(state.CallApplyCaptionTheme(false)) << "only with the custom title bar";
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(resizable);
}

TEST(HostState, AHookMayCallBackIntoTheState) {
  HostState state;
  state.InstallHooks({[&] { state.SetQuitting(); state.CallShowMainWindow(); }, [] {}, nullptr, nullptr});
  EXPECT_TRUE(state.CallRequestQuit());  // no deadlock: hooks run outside the lock
  EXPECT_TRUE(state.IsQuitting());
}

}  // namespace
}  // namespace VirelantDesktop
