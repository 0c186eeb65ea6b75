// An owned file descriptor, closed on destruction.
//
// Every descriptor the program opens is close-on-exec (O_CLOEXEC,
// SOCK_CLOEXEC, pipe2(O_CLOEXEC), accept4(SOCK_CLOEXEC)) unless it is handed
// to a child process on purpose.
#pragma once

#include <utility>

namespace VirelantDesktop::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const noexcept { return fd_; }
  bool IsValid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return IsValid(); }
  int Release() noexcept { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

}  // namespace VirelantDesktop::platform
