#include "app/window/window_sizing.h"

namespace VirelantDesktop::window {
namespace {

Size SizeOf(const Rect& rect) { return {rect.width, rect.height}; }

}  // namespace

Size WindowSizing::WindowSizeFor(Size logicalClient) const {
  const int dpi = window_.Dpi();
  const Size scaled = Scale(logicalClient, dpi);
  if (customTitleBar_) {
    const auto client = window_.ClientSize();
    const auto outer = window_.WindowRect();
    if (client && outer && client->width >= 1 && client->height >= 1) {
      return window::WindowSizeFor(scaled, {outer->width - client->width, outer->height - client->height});
    }
  }
  return window::WindowSizeFor(scaled, window_.FrameExtraEstimate());
}

void WindowSizing::ApplyInitialSize() {
  std::optional<Size> work;
  if (auto area = window_.WorkArea()) work = SizeOf(*area);
  window_.ResizeClient(InitialClientSize(window_.Dpi(), work));
  ClampToWorkArea();
}

void WindowSizing::ClampToWorkArea() {
  if (window_.IsMaximized() || window_.IsMinimized()) return;
  const auto work = window_.WorkArea();
  const auto outer = window_.WindowRect();
  if (!work || !outer) return;
  const auto clamped = window::ClampToWorkArea(*outer, *work, WindowSizeFor(kMinClient));
  if (!clamped && window_.IsPlaced()) return;
  ApplyClamped(*outer, clamped.value_or(*outer), *work);
}

void WindowSizing::OnGeometryChanged() {
  if (!clampPending_ || !window_.IsPlaced()) return;
  clampPending_ = false;
  ClampToWorkArea();
}

void WindowSizing::ApplyClamped(const Rect& from, const Rect& clamped, const Rect& work) {
  if (window_.IsPlaced()) {
    if (clamped.x == from.x && clamped.y == from.y) {
      window_.SetWindowSize(SizeOf(clamped));
    } else {
      window_.SetWindowRect(clamped);
    }
    return;
  }
  // Not placed yet: its position is a guess, and moving it there would pin
  // the window to that guess (on a small screen, to the left edge) instead
  // of where the window manager puts it. It is only sized, and clamped
  // again once it has its place.
  clampPending_ = true;
  if (clamped.width <= work.width && clamped.height <= work.height) {
    window_.SetWindowSize(SizeOf(clamped));
    return;
  }
  // Larger than the work area even at its smallest: window managers put
  // such a window in a corner. It goes where the clamp would leave a window
  // placed in the middle: centred along a side that fits, its near edge at
  // the work area's along one that does not.
  window_.SetWindowRect(CentredIn(SizeOf(clamped), work));
}

Size WindowSizing::ResizeWithinWorkArea(Size outer) {
  const auto current = window_.WindowRect();
  const auto work = window_.WorkArea();
  if (!current || !work || window_.IsMaximized() || window_.IsMinimized()) {
    window_.SetWindowSize(outer);
    return outer;
  }
  const Rect wanted{current->x, current->y, outer.width, outer.height};
  const Rect placed = window::ClampToWorkArea(wanted, *work, WindowSizeFor(kMinClient)).value_or(wanted);
  ApplyClamped(*current, placed, *work);
  return SizeOf(placed);
}

platform::SizeLimits WindowSizing::Limits() {
  platform::SizeLimits limits;
  if (!fixed_) {
    limits.minimum = WindowSizeFor(kMinClient);
    limits.maximumWidth = WindowSizeFor({kMaxClientWidth, kMinClient.height}).width;
    return limits;
  }
  const int dpi = window_.Dpi();
  Size fixed = cachedFixed_;
  if (cachedFixedDpi_ != dpi) {
    fixed = WindowSizeFor({kDefaultClient.width, fixedClientHeight_});
    if (!window_.IsMaximized()) {
      cachedFixed_ = fixed;
      cachedFixedDpi_ = dpi;
    }
  }
  limits.minimum = fixed;
  limits.maximumWidth = fixed.width;
  limits.maximumHeight = fixed.height;
  return limits;
}

void WindowSizing::MeasureFrame() {
  const auto client = window_.ClientSize();
  const auto outer = window_.WindowRect();
  if (!client || !outer || client->width < 1 || client->height < 1) return;
  savedFrameExtra_ = {outer->width - client->width, outer->height - client->height};
  savedFrameDpi_ = window_.Dpi();
}

void WindowSizing::ApplyResizable(bool resizable, const std::function<void()>& reapplyTitleBar) {
  if (resizable == !fixed_) return;
  const bool entering = !resizable;
  const int dpi = window_.Dpi();
  Size target = kDefaultClient;

  if (entering) {
    const bool maximized = window_.IsMaximized();
    const bool minimized = window_.IsMinimized();
    if (!maximized && !minimized) {
      const auto client = window_.ClientSize();
      const auto outer = window_.WindowRect();
      if (client && outer && client->width >= 1 && client->height >= 1) {
        saved_ = Size{Unscale(client->width, dpi), Unscale(client->height, dpi)};
        savedFrameExtra_ = {outer->width - client->width, outer->height - client->height};
        savedFrameDpi_ = dpi;
      }
    } else {
      // The size to come back to is the one the window had before it was
      // maximised or minimised.
      const auto normal = window_.NormalRect();
      if (normal && savedFrameDpi_ == dpi && savedFrameExtra_.width > 0 && savedFrameExtra_.height > 0) {
        const Size client{normal->width - savedFrameExtra_.width, normal->height - savedFrameExtra_.height};
        if (client.width > 0 && client.height > 0) saved_ = Size{Unscale(client.width, dpi), Unscale(client.height, dpi)};
      }
      window_.Restore();
    }
  } else {
    target = RestoredClientSize(saved_);
  }

  fixed_ = entering;
  window_.SetResizable(resizable);
  if (reapplyTitleBar) reapplyTitleBar();

  if (entering) fixedClientHeight_ = target.height;
  if (const auto work = window_.WorkArea()) {
    const Size outer = WindowSizeFor(target);
    target.height = FitFixedClientHeight(target.height, outer.height, work->height, dpi);
    if (entering) fixedClientHeight_ = target.height;
  }

  cachedFixedDpi_ = 0;
  const Size applied = ResizeWithinWorkArea(WindowSizeFor(target));

  if (entering) {
    cachedFixed_ = applied;
    cachedFixedDpi_ = dpi;
    if (!window_.IsMaximized() && !window_.IsMinimized()) MeasureFrame();
  }
  PushLimits();
}

void WindowSizing::OnStateChanged(bool, bool maximized) {
  if (fixed_ && maximized) window_.Unmaximize();
}

void WindowSizing::OnDpiChanged() {
  ClampToWorkArea();
  PushLimits();
}

}  // namespace VirelantDesktop::window
