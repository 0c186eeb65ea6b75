// A FIFO of closures run by a GLib main context's thread.
//
// Any thread may post. The queue is a std::mutex-guarded deque (so thread
// sanitizers see the hand-over; GLib's own futexes are invisible to them);
// GLib only wakes the receiving thread: a GSource whose ready time is set
// when the queue goes from empty to non-empty. Each wake-up runs every task
// queued at that moment, in order.
#pragma once

#include <glib.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "host/liveness.h"

namespace VirelantDesktop::host {

using Task = std::function<void()>;

class LoopTaskQueue {
 public:
  // Attaches the source to `context`. Each queued task holds one unit of
  // `liveness` (may be null) until it has run or been dropped.
  LoopTaskQueue(GMainContext* context, std::shared_ptr<Liveness> liveness);
  ~LoopTaskQueue();
  LoopTaskQueue(const LoopTaskQueue&) = delete;
  LoopTaskQueue& operator=(const LoopTaskQueue&) = delete;

  // Thread-safe. False (task dropped) once the queue is closed.
  bool Post(Task task) noexcept;

  // Drops the queued tasks and refuses new ones. Call on the context's
  // thread, or after it stopped.
  void Close() noexcept;

 private:
  static gboolean Dispatch(GSource* source, GSourceFunc, gpointer);
  void RunPending();

  struct QueueSource;
  GMainContext* context_;  // referenced for the queue's life: posters may outlive its thread
  QueueSource* source_ = nullptr;
  std::shared_ptr<Liveness> liveness_;

  std::mutex mutex_;  // guards tasks_ and closed_
  std::deque<Task> tasks_;
  bool closed_ = false;
};

}  // namespace VirelantDesktop::host
