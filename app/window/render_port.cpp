#include "app/window/render_port.h"

#include <thread>

#include "platform/image_loader.h"
#include "platform/pango_text.h"

namespace VirelantDesktop::window {

void RenderPort::Configure(host::HostOptions& options, bool withFonts) {
  std::weak_ptr<RenderPort> self = weak_from_this();
  options.render.mount = [self](render::MountTransaction transaction) {
    if (auto port = self.lock()) port->Mount(std::move(transaction));
  };
  options.render.command = [self](render::Tag tag, const std::string& command, const JSValue& args) {
    auto port = self.lock();
    if (!port) return;
    std::lock_guard lock(port->mutex_);
    if (port->view_) port->view_->Command(tag, command, args);
  };
  // Headers are read on a worker of their own: a slow disk must not hold
  // the JS thread.
  options.render.imageSize = [](const std::string& uri, std::function<void(int, int, std::string)> done) {
    std::thread([uri, done = std::move(done)] {
      platform::ImageSizeResult size = platform::ReadImageSize(uri);
      done(size.width, size.height, std::move(size.error));
    }).detach();
  };
  if (withFonts) options.render.measurer = std::make_shared<platform::PangoTextMeasurer>();
}

void RenderPort::Mount(render::MountTransaction transaction) {
  std::lock_guard lock(mutex_);
  if (view_) view_->Apply(std::move(transaction));
}

void RenderPort::Attach(platform::MainWindow& window, host::ReactHost& host) {
  void* container = window.ContentHandle();
  if (container == nullptr) return;
  host_ = &host;
  platform::RenderViewEvents events;
  std::weak_ptr<RenderPort> self = weak_from_this();
  events.viewEvent = [self](render::Tag tag, std::string type, render::Props payload) {
    auto port = self.lock();
    if (port && port->host_ != nullptr) port->host_->DispatchViewEvent(tag, std::move(type), std::move(payload));
  };
  events.viewportChanged = [self](const render::LayoutConstraints& constraints) {
    auto port = self.lock();
    if (!port) return;
    host::DisplayEnvironment display;
    {
      std::lock_guard lock(port->mutex_);
      port->display_.constraints = constraints;
      display = port->display_;
    }
    if (port->host_ != nullptr) port->host_->UpdateDisplay(display);
  };
  events.colorSchemeChanged = [self](const std::string& scheme) {
    auto port = self.lock();
    if (!port) return;
    host::DisplayEnvironment display;
    {
      std::lock_guard lock(port->mutex_);
      port->display_.colorScheme = scheme;
      display = port->display_;
    }
    if (port->host_ != nullptr) port->host_->UpdateDisplay(display);
  };
  auto view = platform::MakeGtkRenderView(container, host::kRootSurfaceTag, std::move(events), host.ViewComponents());
  std::lock_guard lock(mutex_);
  display_.constraints = view->Constraints();
  display_.colorScheme = view->ColorScheme();
  if (auto size = window.ClientSize(); size && display_.constraints.size.width <= 1) {
    const float scale = static_cast<float>(window.Dpi()) / 96.0f;
    display_.constraints.size = {static_cast<float>(size->width) / scale, static_cast<float>(size->height) / scale};
  }
  view_ = std::move(view);
}

void RenderPort::Detach() {
  std::unique_ptr<platform::RenderView> view;
  {
    std::lock_guard lock(mutex_);
    view = std::move(view_);
  }
  host_ = nullptr;
  view.reset();
}

host::DisplayEnvironment RenderPort::Display() const {
  std::lock_guard lock(mutex_);
  return display_;
}

}  // namespace VirelantDesktop::window
