#include "modules/media/media_job.h"

#include <gtest/gtest.h>

#include <thread>

namespace VirelantDesktop::media {
namespace {

using namespace std::chrono_literals;

struct CountingOperation final : InterruptibleOperation {
  void Cancel() noexcept override { ++cancels; }
  std::atomic<int> cancels{0};
};

TEST(MediaJob, TheFirstStopWinsAndInterruptsWhatRuns) {
  Job job;
  auto transfer = std::make_shared<CountingOperation>();
  SetCurrentOperation(job, transfer);
  EXPECT_EQ(transfer->cancels, 0);
  AbortJob(job, JobStatus::Canceled);
  AbortJob(job, JobStatus::Timeout);
  EXPECT_EQ(job.Status(), JobStatus::Canceled);
  EXPECT_EQ(transfer->cancels, 2) << "each stop interrupts; the reason stays the first";
  auto late = std::make_shared<CountingOperation>();
  SetCurrentOperation(job, late);
  EXPECT_EQ(late->cancels, 1) << "an operation started after the stop is interrupted at once";
  MarkJobDone(job);
  EXPECT_EQ(job.current, nullptr);
}

TEST(MediaJob, WatchdogTimesOutWithoutHeadersOrPastTheBudget) {
  {
    Job job;
    RunWatchdog(job, 10s, 30ms);
    EXPECT_EQ(job.Status(), JobStatus::Timeout) << "no headers in time";
  }
  {
    Job job;
    MarkHeadersReceived(job);
    RunWatchdog(job, 40ms, 10s);
    EXPECT_EQ(job.Status(), JobStatus::Timeout) << "the whole transfer took too long";
  }
  {
    Job job;
    std::thread transfer([&] {
      MarkHeadersReceived(job);
      std::this_thread::sleep_for(10ms);
      MarkJobDone(job);
    });
    RunWatchdog(job, 10s, 10s);
    transfer.join();
    EXPECT_EQ(job.Status(), JobStatus::Running) << "done in time";
  }
  {
    Job job;
    std::thread stop([&] { AbortJob(job, JobStatus::Changed); });
    RunWatchdog(job, 10s, 10s);
    stop.join();
    EXPECT_EQ(job.Status(), JobStatus::Changed) << "a stop ends the watch without a time-out";
  }
}

TEST(MediaJob, ProgressAtMostEvery250Ms) {
  const auto start = ProgressThrottle::Clock::now();
  ProgressThrottle throttle(start);
  EXPECT_TRUE(throttle.ShouldReport(start)) << "the first chunk";
  EXPECT_FALSE(throttle.ShouldReport(start + 249ms));
  EXPECT_TRUE(throttle.ShouldReport(start + 250ms));
  EXPECT_FALSE(throttle.ShouldReport(start + 400ms));
  EXPECT_TRUE(throttle.ShouldReport(start + 501ms));
}

}  // namespace
}  // namespace VirelantDesktop::media
