#include "host/loop_task_queue.h"

namespace VirelantDesktop::host {

struct LoopTaskQueue::QueueSource {
  GSource base;
  LoopTaskQueue* owner;
};

LoopTaskQueue::LoopTaskQueue(GMainContext* context, std::shared_ptr<Liveness> liveness)
    : context_(g_main_context_ref(context)), liveness_(std::move(liveness)) {
  // No prepare or check: the ready time alone decides when it runs.
  static GSourceFuncs funcs = {nullptr, nullptr, &LoopTaskQueue::Dispatch, nullptr, nullptr, nullptr};
  GSource* source = g_source_new(&funcs, sizeof(QueueSource));
  source_ = reinterpret_cast<QueueSource*>(source);
  source_->owner = this;
  g_source_set_name(source, "talvek-task-queue");
  g_source_set_ready_time(source, -1);
  g_source_attach(source, context);
}

LoopTaskQueue::~LoopTaskQueue() {
  Close();
  GSource* source = &source_->base;
  g_source_destroy(source);
  g_source_unref(source);
  g_main_context_unref(context_);
}

bool LoopTaskQueue::Post(Task task) noexcept {
  bool wake = false;
  try {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    wake = tasks_.empty();
    tasks_.push_back(std::move(task));
    if (liveness_) liveness_->Acquire();
  } catch (...) {
    return false;
  }
  // The source outlives every poster: the queue is destroyed only after the
  // threads that post to it are done with it (they hold it by shared_ptr).
  if (wake) g_source_set_ready_time(&source_->base, 0);
  return true;
}

void LoopTaskQueue::Close() noexcept {
  std::deque<Task> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(tasks_);
  }
  const size_t count = dropped.size();
  dropped.clear();  // destroy the closures (and what they hold) first
  if (liveness_) {
    for (size_t i = 0; i < count; ++i) liveness_->Release();
  }
}

gboolean LoopTaskQueue::Dispatch(GSource* source, GSourceFunc, gpointer) {
  reinterpret_cast<QueueSource*>(source)->owner->RunPending();
  return G_SOURCE_CONTINUE;
}

void LoopTaskQueue::RunPending() {
  // Disarm first: a post after the swap below re-arms it.
  g_source_set_ready_time(&source_->base, -1);
  std::deque<Task> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  for (auto& task : batch) {
    try {
      task();
    } catch (...) {
      // Tasks report their own failures; none may unwind the loop.
    }
    task = nullptr;
    if (liveness_) liveness_->Release();
  }
}

}  // namespace VirelantDesktop::host
