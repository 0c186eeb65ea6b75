#include "platform/file_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace VirelantDesktop::platform {
namespace {

// The bytes written between two background flushes.
constexpr uint64_t kFlushStepBytes = uint64_t{8} << 20;

}  // namespace

struct BackgroundFlush::Worker {
  std::mutex mutex;  // guards wanted, stopping and error
  std::condition_variable changed;
  bool wanted = false;  // a step was asked for since the last one began
  bool stopping = false;
  int error = 0;  // of the first failed step
  std::thread thread;

  void Run(int fd) {
    std::unique_lock lock(mutex);
    while (true) {
      changed.wait(lock, [&] { return wanted || stopping; });
      if (!wanted) return;  // stopping, and every step asked for is done
      wanted = false;
      lock.unlock();
      const int result = fdatasync(fd) == 0 ? 0 : errno;
      lock.lock();
      if (result != 0 && error == 0) error = result;
    }
  }
};

BackgroundFlush::BackgroundFlush(int fd) noexcept : fd_(fd) {}

BackgroundFlush::~BackgroundFlush() { Stop(); }

void BackgroundFlush::Written(uint64_t totalBytes) noexcept {
  if (totalBytes - stepStart_ < kFlushStepBytes) return;
  stepStart_ = totalBytes;
  if (!worker_) {
    try {
      auto worker = std::make_unique<Worker>();
      Worker* running = worker.get();
      const int fd = fd_;
      worker->thread = std::thread([running, fd] { running->Run(fd); });
      worker_ = std::move(worker);
    } catch (...) {
      return;  // without the thread the final flush does it all
    }
  }
  {
    std::lock_guard lock(worker_->mutex);
    worker_->wanted = true;
  }
  worker_->changed.notify_one();
}

int BackgroundFlush::Stop() noexcept {
  if (!worker_) return 0;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->stopping = true;
  }
  worker_->changed.notify_one();
  worker_->thread.join();
  const int error = worker_->error;
  worker_.reset();
  return error;
}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    flush_.reset();
    fd_ = std::move(other.fd_);
    written_ = std::exchange(other.written_, 0);
    flush_ = std::move(other.flush_);
  }
  return *this;
}

NewFile NewFile::CreateAt(const UniqueFd& folder, const std::string& name, unsigned mode, int& error) {
  NewFile file;
  file.fd_.Reset(openat(folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode)));
  error = file.fd_ ? 0 : errno;
  return file;
}

bool NewFile::Write(const void* data, size_t size, int& error) noexcept {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_.Get(), next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? errno : EIO;
      return false;
    }
    next += written;
    size -= static_cast<size_t>(written);
    written_ += static_cast<uint64_t>(written);
  }
  if (!flush_ && written_ >= kFlushStepBytes) flush_.reset(new (std::nothrow) BackgroundFlush(fd_.Get()));
  if (flush_) flush_->Written(written_);
  return true;
}

bool NewFile::Finish(int& error) noexcept {
  const int stepError = flush_ ? flush_->Stop() : 0;
  flush_.reset();
  error = fdatasync(fd_.Get()) == 0 ? stepError : errno;
  if (close(fd_.Release()) != 0 && error == 0) error = errno;
  return error == 0;
}

bool RenameAt(const UniqueFd& folder, const std::string& from, const std::string& to, int& error) noexcept {
  error = renameat(folder.Get(), from.c_str(), folder.Get(), to.c_str()) == 0 ? 0 : errno;
  return error == 0;
}

FileStatus StatusOf(const std::string& path) noexcept {
  FileStatus status;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return status;
  status.type = S_ISREG(info.st_mode)   ? EntryType::File
                : S_ISDIR(info.st_mode) ? EntryType::Folder
                : S_ISLNK(info.st_mode) ? EntryType::Link
                                        : EntryType::Other;
  status.size = static_cast<uint64_t>(info.st_size);
  status.modifiedNs = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  return status;
}

bool TouchModifiedAt(const UniqueFd& folder, const std::string& name) noexcept {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
  return utimensat(folder.Get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t FileClockNowNs() noexcept {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace VirelantDesktop::platform
