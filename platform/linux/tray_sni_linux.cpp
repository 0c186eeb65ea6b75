#include "platform/tray.h"

namespace VirelantDesktop::platform {
namespace {
class NoTray final : public Tray {
 public:
  bool Add() override { return false; }
  void Remove() override {}
};
}  // namespace

std::unique_ptr<Tray> MakeStatusNotifierTray(TrayOptions, TrayEvents) { return std::make_unique<NoTray>(); }

}  // namespace VirelantDesktop::platform
