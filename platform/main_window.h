// The one top-level window of the shell, as the window logic sees it.
//
// Sizes and positions are physical pixels (device pixels); logical 96-DPI
// values are scaled by the caller with Dpi(). The window rectangle is the
// outer frame, decorations included; the client size is the part the page
// draws into (with a client-side title bar, the title bar is part of it).
//
// Two implementations: GTK 3 (a real window; chosen when a display is
// present) and headless (no window at all: a state record that tests and
// display-less runs drive). UI thread only; events are reported on it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/tray.h"

namespace VirelantDesktop::platform {

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PixelRect&) const = default;
};

struct Argb {
  uint8_t a = 0, r = 0, g = 0, b = 0;
  bool operator==(const Argb&) const = default;
};

// Colours of the caption buttons drawn over the page.
struct CaptionColors {
  Argb background, inactiveBackground;
  Argb foreground, inactiveForeground;
  Argb hoverBackground, hoverForeground;
  Argb pressedBackground, pressedForeground;
  bool operator==(const CaptionColors&) const = default;
};

// Outer-size limits the window manager enforces while the user resizes.
struct SizeLimits {
  PixelSize minimum;
  std::optional<int> maximumWidth;   // none: as large as the system allows
  std::optional<int> maximumHeight;
  bool operator==(const SizeLimits&) const = default;
};

struct MainWindowEvents {
  // The user or the system asks to close; true when handled (the window stays).
  std::function<bool()> closeRequested;
  // Mapped or unmapped.
  std::function<void(bool shown)> shownChanged;
  // Iconified or restored / maximised or not.
  std::function<void(bool minimized, bool maximized)> stateChanged;
  // Size or position changed, or the window got its first place.
  std::function<void()> geometryChanged;
  // The monitor scale changed (the window moved or the setting changed).
  std::function<void()> dpiChanged;
  // The window is gone for good (after Close()).
  std::function<void()> destroyed;
};

class MainWindow {
 public:
  virtual ~MainWindow() = default;

  // The toolkit's own window (a GtkWindow* with GTK), for dialogs it owns;
  // null without a toolkit.
  virtual void* NativeHandle() const { return nullptr; }
  // The container the page is drawn in (a GtkContainer* with GTK); null
  // without a toolkit.
  virtual void* ContentHandle() const { return nullptr; }
  virtual void SetTitle(const std::string& title) = 0;
  // PNG files of one icon at several sizes.
  virtual void SetIcons(const std::vector<std::string>& pngFiles) = 0;

  virtual void Show() = 0;              // shown, not brought forward
  virtual void ShowAndActivate() = 0;   // restored when minimised, shown, brought forward
  virtual void Hide() = 0;
  virtual void Close() = 0;             // destroys the window; `destroyed` follows
  virtual void Unmaximize() = 0;
  virtual void Restore() = 0;           // neither minimised nor maximised; not brought forward

  virtual bool IsVisible() const = 0;   // mapped (true while minimised too)
  virtual bool IsMinimized() const = 0;
  virtual bool IsMaximized() const = 0;

  virtual int Dpi() const = 0;                          // 96 x the monitor's scale
  virtual std::optional<PixelSize> ClientSize() const = 0;
  virtual std::optional<PixelRect> WindowRect() const = 0;
  // Whether the window has its place on the screen. Where a window manager
  // places each new window when it first shows, a window never shown has
  // none: the position WindowRect gives is then only a guess, and moving
  // the window there would override the window manager's choice.
  virtual bool IsPlaced() const { return true; }
  // The outer rectangle the window has when neither maximised nor minimised.
  virtual std::optional<PixelRect> NormalRect() const = 0;
  // The work area of the monitor nearest to the window.
  virtual std::optional<PixelRect> WorkArea() const = 0;
  // Decorations the system adds around a client area with the current style.
  virtual PixelSize FrameExtraEstimate() const = 0;

  virtual void SetWindowSize(PixelSize outer) = 0;   // position kept
  virtual void SetWindowRect(PixelRect outer) = 0;
  virtual void ResizeClient(PixelSize client) = 0;
  virtual void SetResizable(bool resizable) = 0;     // edges and maximise
  virtual void SetSizeLimits(const SizeLimits& limits) = 0;

  // Client-side title bar: the page extends under a caption strip whose
  // buttons take the given colours and whose `strip` area drags the window.
  virtual bool SupportsCustomTitleBar() const = 0;
  virtual void ExtendIntoTitleBar(bool extend) = 0;
  virtual void SetCaptionColors(const CaptionColors& colors) = 0;
  // Left and right insets of the caption buttons, physical pixels.
  virtual std::pair<int, int> CaptionInsets() const = 0;
  virtual void SetDragStrip(const PixelRect& strip) = 0;

  // A popup menu at the pointer (the tray menu on hosts that ask us to draw it).
  virtual void PopupMenu(const std::vector<TrayMenuEntry>& entries, std::function<void(int command)> chosen) = 0;
};

}  // namespace VirelantDesktop::platform
