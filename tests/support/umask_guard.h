// Sets the process's umask for one test, so that created modes are
// predictable, and puts the old one back.
#pragma once

#include <sys/stat.h>

namespace VirelantDesktop::testing {

class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(umask(mask)) {}
  ~UmaskGuard() { umask(old_); }
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;

 private:
  mode_t old_;
};

}  // namespace VirelantDesktop::testing
