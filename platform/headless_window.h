// The window of a display-less run: no window at all, only its state. The
// shell behaves as with a real window (hide to tray, show on hand-over, quit)
// and tests drive it with the inputs a desktop would produce.
#pragma once

#include <optional>

#include "platform/main_window.h"

namespace VirelantDesktop::platform {

class HeadlessWindow final : public MainWindow {
 public:
  explicit HeadlessWindow(MainWindowEvents events);

  // Inputs a desktop would produce.
  bool RequestClose();                       // the result of closeRequested (true: kept)
  void SetMinimized(bool minimized);
  void SetMaximized(bool maximized);
  void SetDpi(int dpi);                      // reports dpiChanged
  void SetWorkArea(std::optional<PixelRect> workArea);
  void SetFrameExtra(PixelSize frameExtra);
  void SetCustomTitleBarSupported(bool supported) { customTitleBar_ = supported; }
  // A desktop whose window manager places new windows: until Place the
  // window has no place (IsPlaced false); Place moves it to (x, y) and
  // reports geometryChanged. A window starts placed.
  void SetUnplaced() { placed_ = false; }
  void Place(int x, int y);

  // What the shell did to it.
  bool IsDestroyed() const { return destroyed_; }
  int Activations() const { return activations_; }
  const std::string& Title() const { return title_; }
  const std::vector<std::string>& Icons() const { return icons_; }
  const std::optional<SizeLimits>& Limits() const { return limits_; }
  bool IsResizable() const { return resizable_; }
  bool ExtendsIntoTitleBar() const { return extended_; }
  const std::optional<CaptionColors>& Colors() const { return colors_; }
  const std::optional<PixelRect>& DragStrip() const { return dragStrip_; }

  void SetTitle(const std::string& title) override { title_ = title; }
  void SetIcons(const std::vector<std::string>& pngFiles) override { icons_ = pngFiles; }
  void Show() override;
  void ShowAndActivate() override;
  void Hide() override;
  void Close() override;
  void Unmaximize() override { SetMaximized(false); }
  void Restore() override {
    SetMinimized(false);
    SetMaximized(false);
  }
  bool IsVisible() const override { return visible_; }
  bool IsMinimized() const override { return minimized_; }
  bool IsMaximized() const override { return maximized_; }
  int Dpi() const override { return dpi_; }
  std::optional<PixelSize> ClientSize() const override;
  std::optional<PixelRect> WindowRect() const override;
  bool IsPlaced() const override { return placed_; }
  std::optional<PixelRect> NormalRect() const override { return rect_; }
  std::optional<PixelRect> WorkArea() const override { return workArea_; }
  PixelSize FrameExtraEstimate() const override { return frameExtra_; }
  void SetWindowSize(PixelSize outer) override;
  void SetWindowRect(PixelRect outer) override;
  void ResizeClient(PixelSize client) override;
  void SetResizable(bool resizable) override { resizable_ = resizable; }
  void SetSizeLimits(const SizeLimits& limits) override { limits_ = limits; }
  bool SupportsCustomTitleBar() const override { return customTitleBar_; }
  void ExtendIntoTitleBar(bool extend) override { extended_ = extend; }
  void SetCaptionColors(const CaptionColors& colors) override { colors_ = colors; }
  std::pair<int, int> CaptionInsets() const override { return {0, 0}; }
  void SetDragStrip(const PixelRect& strip) override { dragStrip_ = strip; }
  void PopupMenu(const std::vector<TrayMenuEntry>&, std::function<void(int)>) override {}

 private:
  void Geometry(PixelRect rect);

  MainWindowEvents events_;
  std::string title_;
  std::vector<std::string> icons_;
  bool visible_ = false;
  bool minimized_ = false;
  bool maximized_ = false;
  bool destroyed_ = false;
  bool resizable_ = true;
  bool customTitleBar_ = false;
  bool extended_ = false;
  bool placed_ = true;
  int activations_ = 0;
  int dpi_ = 96;
  PixelRect rect_{0, 0, 430, 932};
  PixelSize frameExtra_{};
  std::optional<PixelRect> workArea_;
  std::optional<SizeLimits> limits_;
  std::optional<CaptionColors> colors_;
  std::optional<PixelRect> dragStrip_;
};

}  // namespace VirelantDesktop::platform
