// The client-side title bar: the page extends under a caption strip whose
// buttons are coloured for a light or dark page and whose strip drags the
// window. UI thread only.
#pragma once

#include <optional>

#include "app/window/window_metrics.h"
#include "platform/main_window.h"

namespace VirelantDesktop::window {

// Caption button colours for a dark (true) or light page.
platform::CaptionColors CaptionColorsFor(bool dark) noexcept;

// The drag strip: 32 logical pixels high across the client width between the
// caption insets; nullopt when nothing of it remains.
std::optional<Rect> DragStripRect(int clientWidth, int leftInset, int rightInset, int dpi) noexcept;

class TitleBar {
 public:
  explicit TitleBar(platform::MainWindow& window) : window_(window) {}

  // Extends the page into the title bar when the window supports it, with
  // dark caption colours. True when the custom title bar is in effect.
  bool Apply();
  bool IsCustom() const noexcept { return custom_; }
  bool IsDark() const noexcept { return dark_; }

  // Stores the theme and recolours the buttons.
  void SetTheme(bool dark);
  // Sets the drag strip for the current client width and DPI.
  void UpdateDragStrip();
  // After a frame change: extend again, recolour, new strip.
  void Reapply();

 private:
  platform::MainWindow& window_;
  bool custom_ = false;
  bool dark_ = true;
};

}  // namespace VirelantDesktop::window
