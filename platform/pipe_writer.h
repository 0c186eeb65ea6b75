// The write end of a pipe to a child: whole lines, in order, without ever
// blocking the caller.
//
// A write puts at once into the pipe what the pipe takes; whatever is left
// waits in a queue that the writer thread (RunWriter) feeds to the pipe as
// the child reads. Lines never interleave: a line starts only when every
// line queued before it is fully written. Closing never waits for a writer:
// queued lines fail, and the child sees end of input at once, or, when the
// writer thread is in the middle of a line, as soon as it lets go of the
// descriptor (a wake-up, not a wait for the child).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

class PipeWriter {
 public:
  // Runs once, outside any lock: true when every byte of the line was
  // written, false when the input closed or failed first.
  using Done = std::function<void(bool written)>;

  // Takes the pipe's write end and makes it non-blocking. `writerThread`:
  // RunWriter will run on a thread of its own (then the writer thread owns
  // closing the descriptor).
  PipeWriter(UniqueFd pipe, bool writerThread);
  ~PipeWriter();
  PipeWriter(const PipeWriter&) = delete;
  PipeWriter& operator=(const PipeWriter&) = delete;

  // Writes `text` and one line feed. `done` may be empty.
  void Write(std::string_view text, Done done);
  // No more writes; queued lines fail. Idempotent.
  void Close();
  bool IsClosed() const;
  // The writer thread's body: returns once the input is closed. When the
  // thread could not be started, call WriterGone() instead.
  void RunWriter();
  void WriterGone();

  // Reads what the pipe `fd` holds, up to `size` bytes, waiting for at least
  // one: the count, 0 at the end of input, -1 when the read failed.
  static long ReadSome(const UniqueFd& fd, char* buffer, size_t size) noexcept;

 private:
  struct Pending {
    std::string bytes;
    size_t written = 0;
    Done done;
  };
  // Writes queued lines until the pipe is full; finished lines move to `finished`.
  void FlushLocked(std::vector<std::pair<Done, bool>>& finished);
  void WakeWriter();

  mutable std::mutex mutex_;  // the writer's lock: guards pipe_, queue_, closed_, writerActive_
  std::condition_variable queued_;
  UniqueFd pipe_;
  UniqueFd wake_;  // eventfd that interrupts the writer's wait on a full pipe
  std::deque<Pending> queue_;
  bool closed_ = false;
  bool writerActive_ = false;
};

}  // namespace VirelantDesktop::platform
