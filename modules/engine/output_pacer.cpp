#include "modules/engine/output_pacer.h"

namespace VirelantDesktop::engine {

struct OutputPacer::Hold {
  Hold(std::shared_ptr<Delivered> target, uint64_t batchBytes) : delivered(std::move(target)), bytes(batchBytes) {}
  ~Hold() {
    {
      std::lock_guard lock(delivered->mutex);
      delivered->bytes += bytes;
    }
    delivered->changed.notify_all();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

  std::shared_ptr<Delivered> delivered;
  uint64_t bytes;
};

std::shared_ptr<void> OutputPacer::Account(size_t lineBytes) {
  batchBytes_ += lineBytes + kEventOverheadBytes;
  if (++batchLines_ < kBatchLines && batchBytes_ < kBatchBytes) return nullptr;
  auto hold = std::make_shared<Hold>(delivered_, batchBytes_);
  heldBytes_ += batchBytes_;
  batchBytes_ = 0;
  batchLines_ = 0;
  return hold;
}

bool OutputPacer::HasRoom() const {
  std::lock_guard lock(delivered_->mutex);
  return heldBytes_ - delivered_->bytes <= kMaxInFlightBytes;
}

void OutputPacer::WaitForRoom() {
  std::unique_lock lock(delivered_->mutex);
  delivered_->changed.wait(lock, [this] { return heldBytes_ - delivered_->bytes <= kMaxInFlightBytes; });
}

}  // namespace VirelantDesktop::engine
