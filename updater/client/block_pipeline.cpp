#include "updater/client/block_pipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace VirelantDesktop::update_client {

BlockPipeline::BlockPipeline(std::vector<Consumer> consumers, size_t blockBytes, size_t blockCount)
    : blockBytes_(blockBytes),
      blocks_(blockCount, std::vector<char>(blockBytes)),
      consumers_(std::move(consumers)),
      blockSizes_(blockCount, 0),
      consumed_(consumers_.size(), 0) {
  try {
    for (size_t index = 0; index < consumers_.size(); ++index) {
      threads_.emplace_back([this, index] { RunConsumer(index); });
    }
  } catch (...) {
    StopAndJoin();
    throw;
  }
}

BlockPipeline::~BlockPipeline() { StopAndJoin(); }

void BlockPipeline::StopAndJoin() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

bool BlockPipeline::AcquireNext() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    return failed_ || std::all_of(consumed_.begin(), consumed_.end(),
                                  [&](uint64_t done) { return published_ - done < blocks_.size(); });
  });
  return !failed_;
}

void BlockPipeline::Publish() {
  {
    std::lock_guard lock(mutex_);
    blockSizes_[published_ % blocks_.size()] = fill_;
    ++published_;
  }
  changed_.notify_all();
  fill_ = 0;
  acquired_ = false;
}

bool BlockPipeline::Push(const char* data, size_t size) {
  while (size > 0) {
    if (!acquired_) {
      if (!AcquireNext()) return false;
      acquired_ = true;
    }
    std::vector<char>& block = blocks_[published_ % blocks_.size()];  // published_ changes on this thread only
    const size_t take = std::min(size, blockBytes_ - fill_);
    std::memcpy(block.data() + fill_, data, take);
    fill_ += take;
    data += take;
    size -= take;
    if (fill_ == blockBytes_) Publish();
  }
  std::lock_guard lock(mutex_);
  return !failed_;
}

bool BlockPipeline::Finish() {
  if (fill_ > 0) Publish();
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  std::lock_guard lock(mutex_);
  return !failed_;
}

std::string BlockPipeline::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void BlockPipeline::RunConsumer(size_t index) {
  while (true) {
    size_t slot = 0;
    size_t size = 0;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || failed_ || consumed_[index] < published_ || closed_; });
      if (stopping_ || failed_ || consumed_[index] == published_) return;  // the last case: closed and drained
      slot = consumed_[index] % blocks_.size();
      size = blockSizes_[slot];
    }
    try {
      consumers_[index](blocks_[slot].data(), size);
    } catch (const std::exception& error) {
      std::lock_guard lock(mutex_);
      if (!failed_) failure_ = error.what();
      failed_ = true;
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!failed_) failure_ = "the package could not be processed";
      failed_ = true;
    }
    {
      std::lock_guard lock(mutex_);
      ++consumed_[index];
    }
    changed_.notify_all();
  }
}

}  // namespace VirelantDesktop::update_client
