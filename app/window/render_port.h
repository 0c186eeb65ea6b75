// Connects the host's renderer to the main window's drawn surface: commits
// from the JS thread reach the surface, its viewport, colour scheme and
// view events reach the host. Without a toolkit there is no surface and
// commits are laid out and dropped.
#pragma once

#include <memory>
#include <mutex>

#include "host/react_host.h"
#include "platform/main_window.h"
#include "platform/render_view.h"

namespace VirelantDesktop::window {

class RenderPort : public std::enable_shared_from_this<RenderPort> {
 public:
  // The host's render options: mount into this port (set before Start()).
  void Configure(host::HostOptions& options, bool withFonts);

  // Puts the surface into the window's page (UI thread, after the window
  // exists). `host` must outlive Detach().
  void Attach(platform::MainWindow& window, host::ReactHost& host);
  // Removes the surface; later commits are dropped (UI thread).
  void Detach();

  // The display the bundle starts with: the window's client size and scale.
  host::DisplayEnvironment Display() const;

 private:
  void Mount(render::MountTransaction transaction);

  mutable std::mutex mutex_;  // guards view_ and display_ (commits arrive on the JS thread)
  std::unique_ptr<platform::RenderView> view_;
  host::DisplayEnvironment display_;
  host::ReactHost* host_ = nullptr;  // UI thread only
};

}  // namespace VirelantDesktop::window
