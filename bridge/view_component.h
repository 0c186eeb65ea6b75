// A configured native view component: what its provider set on the
// builder, frozen, shared by the JS thread (which asks whether the name
// exists and how the bundle should see it) and the UI thread (which runs
// the handlers).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/view_component_builder.h"

namespace VirelantDesktop {

struct ViewComponentDescriptor {
  std::string name;
  ViewPropsFactory createProps;  // never null (plain props when the provider set none)
  UpdatePropsHandler updateProps;
  UpdateEventEmitterHandler updateEventEmitter;
  UpdateLayoutMetricsHandler updateLayoutMetrics;
  ComponentViewHandler mount;
  ComponentViewHandler unmount;
  ComponentCommandHandler command;
  std::vector<std::string> directEvents;    // event words, in the order added
  std::vector<std::string> bubblingEvents;
  std::map<std::string, std::string> nativeProps;  // name -> type
};
using ViewComponentDescriptorPtr = std::shared_ptr<const ViewComponentDescriptor>;
using ViewComponentMap = std::map<std::string, ViewComponentDescriptorPtr>;

// Collects what a provider sets.
class ViewComponentBuilder final : public IReactViewComponentBuilder {
 public:
  explicit ViewComponentBuilder(std::string name);

  void SetCreateProps(ViewPropsFactory factory) override;
  void SetUpdatePropsHandler(UpdatePropsHandler handler) override;
  void SetUpdateEventEmitterHandler(UpdateEventEmitterHandler handler) override;
  void SetUpdateLayoutMetricsHandler(UpdateLayoutMetricsHandler handler) override;
  void SetMountHandler(ComponentViewHandler handler) override;
  void SetUnmountHandler(ComponentViewHandler handler) override;
  void SetCustomCommandHandler(ComponentCommandHandler handler) override;
  void AddDirectEvent(const std::string& eventName) override;
  void AddBubblingEvent(const std::string& eventName) override;
  void AddNativeProp(const std::string& name, const std::string& type) override;

  ViewComponentDescriptorPtr Build() &&;

 private:
  ViewComponentDescriptor descriptor_;
};

// Runs `provider` on a fresh builder. A provider that throws leaves a
// component with nothing configured (it mounts an empty view).
ViewComponentDescriptorPtr DescribeViewComponent(const std::string& name,
                                                 const std::function<void(IReactViewComponentBuilder&)>& provider);

// The props of a component without a props factory: the merged object.
class PlainComponentProps final : public IComponentProps {
 public:
  void SetProp(const std::string& name, const JSValue& value) override;
  const JSValue& Values() const { return values_; }

 private:
  JSValue values_ = JSValue::object();
};

// "embedState" -> "topEmbedState" (the type the renderer dispatches).
std::string TopEventType(const std::string& eventName);
// "embedState" -> "onEmbedState" (the prop that receives it).
std::string EventPropName(const std::string& eventName);

// The component as React Native's view config interop reads it: NativeProps,
// directEventTypes and bubblingEventTypes (with phased registration names),
// based on "RCTView".
JSValue InteropViewConfig(const ViewComponentDescriptor& descriptor);

}  // namespace VirelantDesktop
