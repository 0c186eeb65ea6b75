// The main window's size rules: the first size, the work-area clamp, the
// limits while resizing, and the fixed-size mode with the size it saves and
// gives back. Pure rules over platform::MainWindow; UI thread only.
#pragma once

#include <optional>

#include "app/window/window_metrics.h"
#include "platform/main_window.h"

namespace VirelantDesktop::window {

class WindowSizing {
 public:
  explicit WindowSizing(platform::MainWindow& window) : window_(window) {}

  // Whether the client area includes the title bar (the custom title bar):
  // then the frame is measured on the window itself.
  void SetCustomTitleBar(bool custom) noexcept { customTitleBar_ = custom; }

  // Physical outer size for a logical client size at the window's DPI.
  Size WindowSizeFor(Size logicalClient) const;

  // 430 x 932 scaled, fitted to the work area, then clamped into it.
  void ApplyInitialSize();
  // Pulls the window into its monitor's work area (not when maximised or
  // minimised, or when nothing can be measured). Only what overflows
  // changes: a window that fits across keeps its left edge. A window not yet
  // placed is only sized; its clamp waits for its place.
  void ClampToWorkArea();
  // The window moved or resized; the first time it has a place, the clamp
  // that waited for it runs.
  void OnGeometryChanged();

  // The limits while the user resizes; in fixed-size mode the fixed outer
  // size (cached per DPI). Pushes them to the window.
  platform::SizeLimits Limits();
  void PushLimits() { window_.SetSizeLimits(Limits()); }

  // Enters (false) or leaves (true) fixed-size mode. `reapplyTitleBar` runs
  // after the frame changed.
  void ApplyResizable(bool resizable, const std::function<void()>& reapplyTitleBar);

  // A maximise in fixed-size mode is undone.
  void OnStateChanged(bool minimized, bool maximized);
  void OnDpiChanged();

  bool IsFixedSize() const noexcept { return fixed_; }
  int FixedClientHeight() const noexcept { return fixedClientHeight_; }
  std::optional<Size> SavedLogicalClient() const noexcept { return saved_; }

 private:
  void MeasureFrame();
  // Gives the window `outer` size, pulled into the work area, in one request
  // computed from the size asked for: a toolkit may carry out a resize only
  // after it was asked, so the window is not read back in between. Returns
  // the size given.
  Size ResizeWithinWorkArea(Size outer);

  // Gives the window `clamped`, the clamp of its rectangle `from` into
  // `work`: moved only when the clamp moved it and the window has a place.
  void ApplyClamped(const Rect& from, const Rect& clamped, const Rect& work);

  platform::MainWindow& window_;
  bool customTitleBar_ = false;
  bool clampPending_ = false;  // clamped while unplaced: clamp again once placed
  bool fixed_ = false;
  int fixedClientHeight_ = kDefaultClient.height;
  // Saved on entering fixed-size mode, for leaving it.
  std::optional<Size> saved_;
  Size savedFrameExtra_;
  int savedFrameDpi_ = 0;
  // The fixed outer size and the DPI it belongs to (0: none).
  Size cachedFixed_;
  int cachedFixedDpi_ = 0;
};

}  // namespace VirelantDesktop::window
