#include "modules/media/media_job.h"

namespace VirelantDesktop::media {

void AbortJob(Job& job, JobStatus reason) {
  uint32_t expected = static_cast<uint32_t>(JobStatus::Running);
  job.status.compare_exchange_strong(expected, static_cast<uint32_t>(reason));
  std::shared_ptr<InterruptibleOperation> operation;
  {
    std::lock_guard lock(job.mutex);
    operation = job.current;
  }
  if (operation) operation->Cancel();
  job.changed.notify_all();
}

void SetCurrentOperation(Job& job, std::shared_ptr<InterruptibleOperation> operation) {
  {
    std::lock_guard lock(job.mutex);
    job.current = operation;
  }
  if (operation && job.Status() != JobStatus::Running) operation->Cancel();
}

void MarkHeadersReceived(Job& job) {
  {
    std::lock_guard lock(job.mutex);
    job.headersReceived = true;
  }
  job.changed.notify_all();
}

void MarkJobDone(Job& job) {
  {
    std::lock_guard lock(job.mutex);
    job.done = true;
    job.current.reset();
  }
  job.changed.notify_all();
}

void RunWatchdog(Job& job, std::chrono::milliseconds total, std::chrono::milliseconds headerLimit) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(job.mutex);
  const auto stopped = [&job] { return job.done || job.Status() != JobStatus::Running; };
  job.changed.wait_for(lock, headerLimit, [&] { return job.headersReceived || stopped(); });
  if (stopped()) return;
  if (!job.headersReceived) {
    lock.unlock();
    AbortJob(job, JobStatus::Timeout);
    return;
  }
  const auto remaining = total - (std::chrono::steady_clock::now() - start);
  if (remaining <= std::chrono::steady_clock::duration::zero() || !job.changed.wait_for(lock, remaining, stopped)) {
    lock.unlock();
    AbortJob(job, JobStatus::Timeout);
  }
}

bool ProgressThrottle::ShouldReport(Clock::time_point now) {
  if (now - last_ < std::chrono::milliseconds(250)) return false;
  last_ = now;
  return true;
}

}  // namespace VirelantDesktop::media
