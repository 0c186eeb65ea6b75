#include "modules/engine/output_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace VirelantDesktop::engine {
namespace {

TEST(OutputPacer, HoldsComeEveryBatchAndTheBoundFollowsTheirRelease) {
  OutputPacer pacer;
  std::vector<std::shared_ptr<void>> holds;
  for (uint32_t i = 1; i < OutputPacer::kBatchLines; ++i) EXPECT_FALSE(pacer.Account(10));
  holds.push_back(pacer.Account(10));
  ASSERT_TRUE(holds.back()) << "a batch closes after its line count";
  holds.push_back(pacer.Account(OutputPacer::kBatchBytes));
  ASSERT_TRUE(holds.back()) << "or after its size";

  while (pacer.HasRoom()) {
    auto hold = pacer.Account(OutputPacer::kBatchBytes);
    ASSERT_TRUE(hold);
    holds.push_back(std::move(hold));
  }
  EXPECT_LE(holds.size(), OutputPacer::kMaxInFlightBytes / OutputPacer::kBatchBytes + 3);
  holds.erase(holds.begin(), holds.begin() + 4);  // JavaScript took the oldest events
  EXPECT_TRUE(pacer.HasRoom());
  pacer.WaitForRoom();  // returns at once
  holds.clear();
}

}  // namespace
}  // namespace VirelantDesktop::engine
