#include "host/loop_task_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace VirelantDesktop::host {
namespace {

// Runs a private main context on its own thread until stopped.
class LoopThread {
 public:
  LoopThread() : context_(g_main_context_new()) {
    thread_ = std::thread([this] {
      g_main_context_push_thread_default(context_);
      while (!stop_.load()) g_main_context_iteration(context_, TRUE);
      g_main_context_pop_thread_default(context_);
    });
  }
  ~LoopThread() {
    Stop();
    g_main_context_unref(context_);
  }
  // Joins the loop thread; queues attached to the context may go after this.
  void Stop() {
    if (!thread_.joinable()) return;
    stop_.store(true);
    g_main_context_wakeup(context_);
    thread_.join();
  }
  GMainContext* context() const { return context_; }

 private:
  GMainContext* context_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(LoopTaskQueue, RunsEachPostersTasksInOrderOnTheLoopThread) {
  LoopThread loop;
  auto liveness = std::make_shared<Liveness>();
  auto queue = std::make_shared<LoopTaskQueue>(loop.context(), liveness);
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  std::mutex mutex;  // guards seen
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> done{0};
  std::atomic<bool> wrongThread{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        queue->Post([&, t, i] {
          if (g_main_context_get_thread_default() != loop.context()) wrongThread = true;
          std::lock_guard lock(mutex);
          seen[t].push_back(i);
          ++done;
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  for (int spin = 0; spin < 5000 && done.load() < kThreads * kEach; ++spin) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  loop.Stop();
  ASSERT_EQ(done.load(), kThreads * kEach);
  EXPECT_FALSE(wrongThread.load());
  std::lock_guard lock(mutex);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[t][i], i);
  }
  loop.Stop();
  EXPECT_EQ(liveness->Count(), 0) << "every task released its unit after running";
}

TEST(LoopTaskQueue, TaskPostedFromATaskRunsToo) {
  LoopThread loop;
  auto queue = std::make_shared<LoopTaskQueue>(loop.context(), nullptr);
  std::atomic<int> step{0};
  queue->Post([&] {
    step = 1;
    queue->Post([&] { step = 2; });
  });
  for (int spin = 0; spin < 5000 && step.load() != 2; ++spin) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  loop.Stop();
  EXPECT_EQ(step.load(), 2);
}

TEST(LoopTaskQueue, Close_DropsQueuedTasksAndRefusesNewOnes) {
  GMainContext* context = g_main_context_new();  // never iterated
  auto liveness = std::make_shared<Liveness>();
  auto queue = std::make_shared<LoopTaskQueue>(context, liveness);
  auto witness = std::make_shared<int>(0);
  bool ran = false;
  EXPECT_TRUE(queue->Post([witness, &ran] { ran = true; }));
  EXPECT_EQ(liveness->Count(), 1);
  EXPECT_EQ(witness.use_count(), 2);
  queue->Close();
  EXPECT_EQ(witness.use_count(), 1) << "the dropped closure was destroyed";
  EXPECT_EQ(liveness->Count(), 0);
  EXPECT_FALSE(queue->Post([&ran] { ran = true; }));
  EXPECT_EQ(liveness->Count(), 0);
  EXPECT_FALSE(ran);
  queue.reset();
  g_main_context_unref(context);
}

}  // namespace
}  // namespace VirelantDesktop::host
