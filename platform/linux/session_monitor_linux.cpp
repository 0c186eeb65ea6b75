#include "platform/session_monitor.h"

namespace VirelantDesktop::platform {
namespace {
class NoMonitor final : public SessionMonitor {
 public:
  bool Register() override { return false; }
  void Unregister() override {}
  bool IsRegistered() const override { return false; }
};
}  // namespace

std::unique_ptr<SessionMonitor> MakeSessionMonitor(SessionEvents) { return std::make_unique<NoMonitor>(); }

}  // namespace VirelantDesktop::platform
