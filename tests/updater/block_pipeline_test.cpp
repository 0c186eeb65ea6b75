#include "updater/client/block_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace VirelantDesktop::update_client {
namespace {

using namespace std::chrono_literals;

std::string Stream(size_t size) {
  std::string data(size, '\0');
  std::mt19937 random(7);
  for (char& byte : data) byte = static_cast<char>(random());
  return data;
}

// Pushes `data` in pieces of varying size (0 included), some smaller and
// some larger than a block.
bool PushInPieces(BlockPipeline& pipeline, const std::string& data) {
  std::mt19937 random(11);
  size_t offset = 0;
  while (offset < data.size()) {
    const size_t piece = std::min<size_t>(random() % 3000, data.size() - offset);
    if (!pipeline.Push(data.data() + offset, piece)) return false;
    offset += piece;
  }
  return true;
}

TEST(BlockPipelineTest, EveryConsumerSeesTheWholeStreamInOrder) {
  // 1,000 bytes per block and 3 blocks: the slow consumer keeps the
  // producer waiting, so every block is filled again many times.
  const std::string data = Stream(100'003);
  std::string fast, slow, sizes;
  std::vector<size_t> blockSizes;
  {
    BlockPipeline pipeline({[&](const char* bytes, size_t size) { fast.append(bytes, size); },
                            [&](const char* bytes, size_t size) {
                              std::this_thread::sleep_for(50us);
                              slow.append(bytes, size);
                              blockSizes.push_back(size);
                            }},
                           1000, 3);
    ASSERT_TRUE(PushInPieces(pipeline, data));
    ASSERT_TRUE(pipeline.Finish());
    EXPECT_EQ(pipeline.Failure(), "");
  }
  EXPECT_EQ(fast, data);
  EXPECT_EQ(slow, data);
  ASSERT_EQ(blockSizes.size(), 101u);
  EXPECT_EQ(blockSizes.back(), 3u) << "the partial last block comes with Finish";
  EXPECT_EQ(blockSizes.front(), 1000u);

  BlockPipeline empty({[](const char*, size_t) { FAIL() << "no block for an empty stream"; }}, 1000, 3);
  EXPECT_TRUE(empty.Finish());
}

TEST(BlockPipelineTest, AFailingConsumerStopsTheProducerAndIsReported) {
  std::atomic<size_t> seen{0};
  BlockPipeline pipeline({[&](const char*, size_t size) { seen += size; },
                          [&](const char*, size_t) { throw std::runtime_error("cannot write /x.partial"); }},
                         1000, 2);
  const std::string data = Stream(50'000);
  // The producer learns of the failure at the latest when it needs a block
  // the failed consumer still holds.
  EXPECT_FALSE(PushInPieces(pipeline, data));
  EXPECT_FALSE(pipeline.Finish());
  EXPECT_EQ(pipeline.Failure(), "cannot write /x.partial");
  EXPECT_LT(seen.load(), data.size());
}

// Without Finish (a transfer that failed) the destructor ends the consumer
// threads, whether they wait for a block or still have blocks to go.
TEST(BlockPipelineTest, DestroyedMidStreamItStopsItsConsumers) {
  { BlockPipeline idle({[](const char*, size_t) {}, [](const char*, size_t) {}}, 100, 4); }
  std::atomic<int> calls{0};
  {
    BlockPipeline busy({[&](const char*, size_t) {
                         ++calls;
                         std::this_thread::sleep_for(20ms);
                       }},
                       100, 4);
    const std::string data = Stream(450);
    ASSERT_TRUE(busy.Push(data.data(), data.size()));
  }
  EXPECT_LE(calls.load(), 4) << "the partial block is never handed over";
}

}  // namespace
}  // namespace VirelantDesktop::update_client
