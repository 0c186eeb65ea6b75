// A toolkit service installed at start-up (a chooser, the clipboard, the
// window's drop surface) and called by modules from any thread: the
// callable is copied under the lock and called outside it.
#pragma once

#include <mutex>
#include <utility>

namespace VirelantDesktop::platform {

template <class Service>
class InstalledService {
 public:
  void Install(Service service) {
    std::lock_guard lock(mutex_);
    service_ = std::move(service);
  }
  // A copy of the installed service; empty when none is.
  Service Get() const {
    std::lock_guard lock(mutex_);
    return service_;
  }

 private:
  mutable std::mutex mutex_;  // guards service_
  Service service_;
};

}  // namespace VirelantDesktop::platform
