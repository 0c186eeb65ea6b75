#include "host/liveness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace VirelantDesktop::host {
namespace {

TEST(Liveness, IdleOnlyAfterArmAndAtZero) {
  std::atomic<int> idle{0};
  auto liveness = std::make_shared<Liveness>([&] { ++idle; });
  liveness->Acquire();
  liveness->Release();
  EXPECT_EQ(idle.load(), 0) << "not armed yet";
  liveness->Acquire();
  liveness->Arm();
  EXPECT_EQ(idle.load(), 0);
  liveness->Release();
  EXPECT_EQ(idle.load(), 1);
}

TEST(Liveness, ArmWhenAlreadyIdleFiresAtOnce) {
  std::atomic<int> idle{0};
  auto liveness = std::make_shared<Liveness>([&] { ++idle; });
  liveness->Arm();
  EXPECT_EQ(idle.load(), 1);
}

TEST(Liveness, TokenCopiesShareOneUnit) {
  auto liveness = std::make_shared<Liveness>();
  {
    KeepAliveToken token = liveness->Token();
    KeepAliveToken copy = token;
    EXPECT_EQ(liveness->Count(), 1);
    token.Release();
    EXPECT_EQ(liveness->Count(), 1);
  }
  EXPECT_EQ(liveness->Count(), 0);
}

TEST(Liveness, TokensReleasedOnManyThreads_ReachZeroOnce) {
  std::atomic<int> idle{0};
  auto liveness = std::make_shared<Liveness>([&] { ++idle; });
  std::vector<KeepAliveToken> tokens;
  for (int i = 0; i < 64; ++i) tokens.push_back(liveness->Token());
  liveness->Arm();
  std::vector<std::thread> threads;
  for (auto& token : tokens) threads.emplace_back([t = std::move(token)]() mutable { t.Release(); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(liveness->Count(), 0);
  EXPECT_EQ(idle.load(), 1);
}

}  // namespace
}  // namespace VirelantDesktop::host
