// What a native view component is made of: its props type, the handlers
// the host calls as React mounts, changes and removes its views, and the
// events it sends back. A package configures a component through
// IReactViewComponentBuilder; the host's drawn surface runs the handlers.
//
// Threads: every handler runs on the UI thread. The event emitter may be
// used from any thread; its events reach the bundle in the order sent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/js_value.h"

namespace VirelantDesktop {

// The props of one view of a component, in the component's own type. The
// host sets the props the bundle passes (style flattened in, as React
// Native sends them), one call per key.
class IComponentProps {
 public:
  virtual ~IComponentProps() = default;
  // `value` is null when the bundle removed the prop.
  virtual void SetProp(const std::string& name, const JSValue& value) = 0;
};
using ComponentPropsPtr = std::shared_ptr<IComponentProps>;

// Makes the props object for a view's next props. `cloneFrom` is the view's
// current props (null for a new view): copy it, the host then sets only
// what changed.
using ViewPropsFactory = std::function<ComponentPropsPtr(const ComponentPropsPtr& cloneFrom)>;

// Sends the component's events to the bundle: "embedState" reaches the
// view's `onEmbedState` prop. Any thread; usable after the view is gone
// (its events are then dropped).
class IComponentEventEmitter {
 public:
  virtual ~IComponentEventEmitter() = default;
  virtual void DispatchEvent(const std::string& eventName, JSValue payload) = 0;
};
using ComponentEventEmitterPtr = std::shared_ptr<IComponentEventEmitter>;

// Where a view sits, in logical pixels: the frame relative to its parent
// view as laid out, its place in the window, and the window's scale
// (device pixels per logical pixel).
struct ComponentLayoutMetrics {
  struct Box {
    float x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Box&) const = default;
  };
  Box frame;
  Box windowFrame;
  float pointScaleFactor = 1;
  bool rightToLeft = false;
  bool operator==(const ComponentLayoutMetrics&) const = default;
};

// One mounted view of a component, as its handlers see it (UI thread).
class IComponentView {
 public:
  virtual ~IComponentView() = default;
  // React's tag of the view.
  virtual int32_t Tag() const = 0;
  // The toolkit container the component puts its native widget in (a
  // GtkContainer on Linux); the host keeps it on the view's frame. Null
  // when the host draws nowhere (headless).
  virtual void* NativeParent() const = 0;
  virtual const ComponentLayoutMetrics& LayoutMetrics() const = 0;
  // The component's own state for this view; empty until it sets it.
  virtual std::shared_ptr<void>& UserData() = 0;
};

using UpdatePropsHandler =
    std::function<void(IComponentView& view, const ComponentPropsPtr& newProps, const ComponentPropsPtr& oldProps)>;
using UpdateEventEmitterHandler = std::function<void(IComponentView& view, const ComponentEventEmitterPtr& emitter)>;
using UpdateLayoutMetricsHandler = std::function<void(IComponentView& view, const ComponentLayoutMetrics& newMetrics,
                                                      const ComponentLayoutMetrics& oldMetrics)>;
using ComponentViewHandler = std::function<void(IComponentView& view)>;
using ComponentCommandHandler =
    std::function<void(IComponentView& view, const std::string& command, const JSValue& args)>;

// Configures one native view component. Every setter is optional; a
// component without a props factory gets its props as a plain object.
class IReactViewComponentBuilder {
 public:
  virtual ~IReactViewComponentBuilder() = default;

  virtual void SetCreateProps(ViewPropsFactory factory) = 0;
  // After the view's first props and on every change of them.
  virtual void SetUpdatePropsHandler(UpdatePropsHandler handler) = 0;
  // When the view's event emitter is ready (once, right after mount).
  virtual void SetUpdateEventEmitterHandler(UpdateEventEmitterHandler handler) = 0;
  // When the view's frame, its place in the window or the scale changed.
  virtual void SetUpdateLayoutMetricsHandler(UpdateLayoutMetricsHandler handler) = 0;
  // The view is created and its native parent exists: put the widget in.
  virtual void SetMountHandler(ComponentViewHandler handler) = 0;
  // The view is removed for good (also when the surface goes away).
  virtual void SetUnmountHandler(ComponentViewHandler handler) = 0;
  // A command the bundle sends the view (React's dispatchCommand).
  virtual void SetCustomCommandHandler(ComponentCommandHandler handler) = 0;

  // Events the component sends, by their word ("embedState"). Direct events
  // reach only the view's own prop; bubbling ones go up through ancestors.
  virtual void AddDirectEvent(const std::string& eventName) = 0;
  virtual void AddBubblingEvent(const std::string& eventName) = 0;
  // A prop and its type ("string", "number", "boolean", "Color", "object",
  // "array"), for bundles that read the component's description from the
  // host instead of carrying it.
  virtual void AddNativeProp(const std::string& name, const std::string& type) = 0;
};

}  // namespace VirelantDesktop
