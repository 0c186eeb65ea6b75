#include "platform/tray.h"

namespace VirelantDesktop::platform {
namespace {

class FallbackTray final : public Tray {
 public:
  FallbackTray(std::unique_ptr<Tray> primary, std::function<std::unique_ptr<Tray>()> makeFallback)
      : primary_(std::move(primary)), makeFallback_(std::move(makeFallback)) {}

  bool Add() override {
    if (primary_ && primary_->Add()) {
      if (fallback_) fallback_->Remove();
      return true;
    }
    if (!fallback_ && makeFallback_) fallback_ = makeFallback_();
    return fallback_ && fallback_->Add();
  }

  void Remove() override {
    if (primary_) primary_->Remove();
    if (fallback_) fallback_->Remove();
  }

 private:
  std::unique_ptr<Tray> primary_;
  std::function<std::unique_ptr<Tray>()> makeFallback_;
  std::unique_ptr<Tray> fallback_;
};

}  // namespace

std::unique_ptr<Tray> MakeTrayWithFallback(std::unique_ptr<Tray> primary,
                                           std::function<std::unique_ptr<Tray>()> makeFallback) {
  return std::make_unique<FallbackTray>(std::move(primary), std::move(makeFallback));
}

}  // namespace VirelantDesktop::platform
