// The drawn surface of the main window: the mounted view tree of the
// bundle's root surface, painted retained (damaged areas only) with native
// widgets only where a component needs one, and pointer input turned into
// the view events React Native reads.
//
// Apply() may be called from any thread (the JS thread hands commits over);
// everything else, including the events, happens on the UI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bridge/view_component.h"
#include "render/mount_ops.h"

namespace VirelantDesktop::platform {

struct RenderViewEvents {
  // The surface's size or scale changed (logical pixels, device pixels per
  // logical pixel).
  std::function<void(const render::LayoutConstraints& constraints)> viewportChanged;
  // A view event for the bundle: a touch, hover, image load or error, or a
  // native component's own event.
  std::function<void(render::Tag tag, std::string type, render::Props payload)> viewEvent;
  // The desktop's colour scheme: "dark" or "light".
  std::function<void(const std::string& scheme)> colorSchemeChanged;
};

class RenderView {
 public:
  virtual ~RenderView() = default;
  // Queues a commit's operations for the UI thread. Any thread.
  virtual void Apply(render::MountTransaction transaction) = 0;
  // The current viewport (UI thread).
  virtual render::LayoutConstraints Constraints() const = 0;
  // The desktop's colour scheme now: "dark" or "light" (UI thread).
  virtual std::string ColorScheme() const = 0;
  // A command for a native component's view (React's dispatchCommand),
  // handled on the UI thread after the commits queued before it. Any thread.
  virtual void Command(render::Tag tag, std::string command, JSValue args) = 0;
};

// A drawing area that fills `container` (a GtkContainer of the main window);
// views of the `components` get widgets of their own above it.
std::unique_ptr<RenderView> MakeGtkRenderView(void* container, render::Tag rootTag, RenderViewEvents events,
                                              ViewComponentMap components = {});

}  // namespace VirelantDesktop::platform
