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

}  // namespace
}  // namespace VirelantDesktop
