#include "platform/headless_window.h"

namespace VirelantDesktop::platform {

HeadlessWindow::HeadlessWindow(MainWindowEvents events) : events_(std::move(events)) {}

bool HeadlessWindow::RequestClose() {
  if (destroyed_) return false;
  const bool kept = events_.closeRequested && events_.closeRequested();
  if (!kept) Close();
  return kept;
}

void HeadlessWindow::SetMinimized(bool minimized) {
  if (destroyed_ || minimized_ == minimized) return;
  minimized_ = minimized;
  if (events_.stateChanged) events_.stateChanged(minimized_, maximized_);
}

void HeadlessWindow::SetMaximized(bool maximized) {
  if (destroyed_ || maximized_ == maximized) return;
  maximized_ = maximized;
  if (events_.stateChanged) events_.stateChanged(minimized_, maximized_);
}

void HeadlessWindow::SetDpi(int dpi) {
  if (destroyed_ || dpi == dpi_ || dpi <= 0) return;
  dpi_ = dpi;
  if (events_.dpiChanged) events_.dpiChanged();
}

void HeadlessWindow::SetWorkArea(std::optional<PixelRect> workArea) { workArea_ = workArea; }

void HeadlessWindow::SetFrameExtra(PixelSize frameExtra) { frameExtra_ = frameExtra; }

void HeadlessWindow::Place(int x, int y) {
  if (destroyed_) return;
  placed_ = true;
  const PixelRect placed{x, y, rect_.width, rect_.height};
  if (placed != rect_) {
    Geometry(placed);
  } else if (events_.geometryChanged) {
    events_.geometryChanged();
  }
}

void HeadlessWindow::Show() {
  if (destroyed_ || visible_) return;
  visible_ = true;
  if (events_.shownChanged) events_.shownChanged(true);
}

void HeadlessWindow::ShowAndActivate() {
  if (destroyed_) return;
  SetMinimized(false);
  Show();
  ++activations_;
}

void HeadlessWindow::Hide() {
  if (destroyed_ || !visible_) return;
  visible_ = false;
  if (events_.shownChanged) events_.shownChanged(false);
}

void HeadlessWindow::Close() {
  if (destroyed_) return;
  Hide();
  destroyed_ = true;
  if (events_.destroyed) events_.destroyed();
}

std::optional<PixelSize> HeadlessWindow::ClientSize() const {
  if (destroyed_) return std::nullopt;
  return PixelSize{rect_.width - frameExtra_.width, rect_.height - frameExtra_.height};
}

std::optional<PixelRect> HeadlessWindow::WindowRect() const {
  if (destroyed_) return std::nullopt;
  return rect_;
}

void HeadlessWindow::Geometry(PixelRect rect) {
  if (destroyed_ || rect == rect_) return;
  rect_ = rect;
  if (events_.geometryChanged) events_.geometryChanged();
}

void HeadlessWindow::SetWindowSize(PixelSize outer) { Geometry({rect_.x, rect_.y, outer.width, outer.height}); }

void HeadlessWindow::SetWindowRect(PixelRect outer) { Geometry(outer); }

void HeadlessWindow::ResizeClient(PixelSize client) {
  Geometry({rect_.x, rect_.y, client.width + frameExtra_.width, client.height + frameExtra_.height});
}

}  // namespace VirelantDesktop::platform
