// Keeps the engine's output reader from running ahead of JavaScript.
//
// Every line becomes an event queued for the JavaScript thread. An engine
// can print lines far faster than listeners take them, and without a bound
// the queue would grow until memory runs out. The pacer counts what was
// sent (each line's bytes plus a fixed share for the event around it) and,
// every few hundred lines or every MiB, hands out a hold to travel with one
// event; a hold that goes (the event ran or was dropped) confirms its batch.
// When more than kMaxInFlightBytes of confirmed-pending output wait, the
// reader waits, and the engine blocks on its full output pipe.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace VirelantDesktop::engine {

class OutputPacer {
 public:
  static constexpr uint64_t kMaxInFlightBytes = uint64_t{32} << 20;
  static constexpr uint64_t kBatchBytes = uint64_t{1} << 20;
  static constexpr uint32_t kBatchLines = 256;
  static constexpr uint64_t kEventOverheadBytes = 256;

  // Counts one line of `lineBytes`; returns the hold to send with its event
  // when the line closes a batch, else null.
  std::shared_ptr<void> Account(size_t lineBytes);
  // True while the output sent and not yet taken stays within the bound.
  bool HasRoom() const;
  // Waits until HasRoom().
  void WaitForRoom();

 private:
  struct Delivered {
    std::mutex mutex;  // guards bytes
    std::condition_variable changed;
    uint64_t bytes = 0;  // of the batches whose holds are gone
  };
  struct Hold;

  std::shared_ptr<Delivered> delivered_ = std::make_shared<Delivered>();
  uint64_t heldBytes_ = 0;  // of the batches whose holds were handed out (reader only)
  uint64_t batchBytes_ = 0;
  uint32_t batchLines_ = 0;
};

}  // namespace VirelantDesktop::engine
