#include "app/window/title_bar.h"

namespace VirelantDesktop::window {

platform::CaptionColors CaptionColorsFor(bool dark) noexcept {
  constexpr platform::Argb kTransparent{0, 255, 255, 255};
  platform::CaptionColors colors;
  colors.background = kTransparent;
  colors.inactiveBackground = kTransparent;
  if (dark) {
    colors.foreground = {255, 255, 255, 255};
    colors.inactiveForeground = {255, 150, 150, 150};
    colors.hoverBackground = {32, 255, 255, 255};
    colors.hoverForeground = {255, 255, 255, 255};
    colors.pressedBackground = {56, 255, 255, 255};
    colors.pressedForeground = {255, 255, 255, 255};
  } else {
    colors.foreground = {255, 0, 0, 0};
    colors.inactiveForeground = {255, 120, 120, 120};
    colors.hoverBackground = {24, 0, 0, 0};
    colors.hoverForeground = {255, 0, 0, 0};
    colors.pressedBackground = {48, 0, 0, 0};
    colors.pressedForeground = {255, 0, 0, 0};
  }
  return colors;
}

std::optional<Rect> DragStripRect(int clientWidth, int leftInset, int rightInset, int dpi) noexcept {
  const int height = MulDiv(kCaptionDragHeight, dpi, kBaseDpi);
  const int width = clientWidth - leftInset - rightInset;
  if (width < 1 || height < 1) return std::nullopt;
  return Rect{leftInset, 0, width, height};
}

bool TitleBar::Apply() {
  if (!window_.SupportsCustomTitleBar()) return false;
  window_.ExtendIntoTitleBar(true);
  SetTheme(true);
  custom_ = true;
  return true;
}

void TitleBar::SetTheme(bool dark) {
  dark_ = dark;
  window_.SetCaptionColors(CaptionColorsFor(dark));
}

void TitleBar::UpdateDragStrip() {
  if (!custom_) return;
  const auto client = window_.ClientSize();
  if (!client) return;
  const auto [left, right] = window_.CaptionInsets();
  if (auto strip = DragStripRect(client->width, left, right, window_.Dpi())) window_.SetDragStrip(*strip);
}

void TitleBar::Reapply() {
  if (!custom_) return;
  window_.ExtendIntoTitleBar(false);
  window_.ExtendIntoTitleBar(true);
  SetTheme(dark_);
  UpdateDragStrip();
}

}  // namespace VirelantDesktop::window
