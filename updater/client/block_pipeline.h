// A byte stream cut into blocks and handed to several consumers, each on a
// thread of its own and each seeing every block in order. A download uses it
// so that the receiving thread only copies what arrives while the file write
// and each digest run beside it, and beside each other. A fixed ring of
// blocks bounds the memory: the producer waits while every block is still in
// use by some consumer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace VirelantDesktop::update_client {

class BlockPipeline {
 public:
  // Gets one block: `size` bytes, never 0. May throw; the first exception
  // stops the pipeline and its what() becomes Failure().
  using Consumer = std::function<void(const char* data, size_t size)>;

  // Starts one thread per consumer; throws std::system_error when a thread
  // cannot be started (those already running are stopped).
  BlockPipeline(std::vector<Consumer> consumers, size_t blockBytes, size_t blockCount);
  // Stops the consumers where they are (blocks not yet consumed are dropped)
  // and waits for their threads.
  ~BlockPipeline();
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  // Producer side, one thread. Appends bytes; each full block goes to the
  // consumers. False once a consumer failed (nothing more is taken).
  bool Push(const char* data, size_t size);
  // Hands over the last partial block and waits until every consumer has
  // seen every block. False when a consumer failed. Call once, last.
  bool Finish();
  // What the first failing consumer threw ("" when none failed).
  std::string Failure() const;

 private:
  void RunConsumer(size_t index);
  // Waits until the block after the last one published is free; false when
  // the pipeline failed.
  bool AcquireNext();
  void Publish();
  void StopAndJoin();

  const size_t blockBytes_;
  std::vector<std::vector<char>> blocks_;
  std::vector<Consumer> consumers_;
  std::vector<std::thread> threads_;
  size_t fill_ = 0;        // producer only: bytes in the block being filled
  bool acquired_ = false;  // producer only: that block is free to fill

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::vector<size_t> blockSizes_;
  uint64_t published_ = 0;          // blocks handed over so far
  std::vector<uint64_t> consumed_;  // per consumer: blocks it has finished
  bool closed_ = false;             // no block will follow the last published one
  bool stopping_ = false;           // consumers end at once
  bool failed_ = false;
  std::string failure_;
};

}  // namespace VirelantDesktop::update_client
