#include "platform/pipe_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace VirelantDesktop::platform {
namespace {

void Finish(std::vector<std::pair<PipeWriter::Done, bool>>& finished) {
  for (auto& [done, written] : finished) {
    if (done) done(written);
  }
  finished.clear();
}

}  // namespace

PipeWriter::PipeWriter(UniqueFd pipe, bool writerThread)
    : pipe_(std::move(pipe)), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), writerActive_(writerThread) {
  if (pipe_) {
    const int flags = fcntl(pipe_.Get(), F_GETFL);
    if (flags >= 0) fcntl(pipe_.Get(), F_SETFL, flags | O_NONBLOCK);
  }
}

PipeWriter::~PipeWriter() { Close(); }

void PipeWriter::Write(std::string_view text, Done done) {
  std::vector<std::pair<Done, bool>> finished;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || !pipe_) {
      finished.emplace_back(std::move(done), false);
    } else {
      Pending line;
      line.bytes.reserve(text.size() + 1);
      line.bytes.append(text);
      line.bytes.push_back('\n');
      line.done = std::move(done);
      const bool wasIdle = queue_.empty();
      queue_.push_back(std::move(line));
      if (wasIdle) {
        FlushLocked(finished);
        if (!queue_.empty()) queued_.notify_one();  // the pipe is full: the writer takes over
      }
    }
  }
  Finish(finished);
}

void PipeWriter::FlushLocked(std::vector<std::pair<Done, bool>>& finished) {
  while (!queue_.empty()) {
    Pending& line = queue_.front();
    const ssize_t n = ::write(pipe_.Get(), line.bytes.data() + line.written, line.bytes.size() - line.written);
    if (n > 0) {
      line.written += static_cast<size_t>(n);
      if (line.written < line.bytes.size()) continue;
      finished.emplace_back(std::move(line.done), true);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      return;
    } else {
      finished.emplace_back(std::move(line.done), false);  // EPIPE: the child closed its input
    }
    queue_.pop_front();
  }
}

void PipeWriter::Close() {
  std::vector<std::pair<Done, bool>> finished;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    for (Pending& line : queue_) finished.emplace_back(std::move(line.done), false);
    queue_.clear();
    if (writerActive_) {
      WakeWriter();
      queued_.notify_one();
    } else {
      pipe_.Reset();
    }
  }
  Finish(finished);
}

bool PipeWriter::IsClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

void PipeWriter::WakeWriter() {
  if (!wake_) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wake_.Get(), &one, sizeof one);
}

void PipeWriter::RunWriter() {
  std::vector<std::pair<Done, bool>> finished;
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return closed_ || !queue_.empty(); });
    if (closed_) break;
    FlushLocked(finished);
    if (queue_.empty()) {
      lock.unlock();
      Finish(finished);
      lock.lock();
      continue;
    }
    // The pipe is full. Only this thread closes the descriptor while it is
    // active, so its number stays ours during the wait.
    pollfd waits[2] = {{pipe_.Get(), POLLOUT, 0}, {wake_.Get(), POLLIN, 0}};
    lock.unlock();
    Finish(finished);
    while (poll(waits, wake_ ? 2 : 1, -1) < 0 && errno == EINTR) {
    }
    if (wake_) {
      uint64_t count;
      [[maybe_unused]] ssize_t ignored = ::read(wake_.Get(), &count, sizeof count);
    }
    lock.lock();
  }
  pipe_.Reset();
  writerActive_ = false;
}

long PipeWriter::ReadSome(const UniqueFd& fd, char* buffer, size_t size) noexcept {
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, size);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

void PipeWriter::WriterGone() {
  std::lock_guard lock(mutex_);
  writerActive_ = false;
  if (closed_) pipe_.Reset();
}

}  // namespace VirelantDesktop::platform
