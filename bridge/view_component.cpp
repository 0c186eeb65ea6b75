#include "bridge/view_component.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

namespace VirelantDesktop {
namespace {

ComponentPropsPtr MakePlainProps(const ComponentPropsPtr& cloneFrom) {
  auto props = std::make_shared<PlainComponentProps>();
  if (auto* previous = dynamic_cast<const PlainComponentProps*>(cloneFrom.get())) *props = *previous;
  return props;
}

void AddOnce(std::vector<std::string>& list, const std::string& name) {
  if (!name.empty() && std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}

std::string Capitalised(const std::string& word) {
  std::string out = word;
  if (!out.empty()) out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
  return out;
}

}  // namespace

ViewComponentBuilder::ViewComponentBuilder(std::string name) { descriptor_.name = std::move(name); }

void ViewComponentBuilder::SetCreateProps(ViewPropsFactory factory) { descriptor_.createProps = std::move(factory); }
void ViewComponentBuilder::SetUpdatePropsHandler(UpdatePropsHandler handler) {
  descriptor_.updateProps = std::move(handler);
}
void ViewComponentBuilder::SetUpdateEventEmitterHandler(UpdateEventEmitterHandler handler) {
  descriptor_.updateEventEmitter = std::move(handler);
}
void ViewComponentBuilder::SetUpdateLayoutMetricsHandler(UpdateLayoutMetricsHandler handler) {
  descriptor_.updateLayoutMetrics = std::move(handler);
}
void ViewComponentBuilder::SetMountHandler(ComponentViewHandler handler) { descriptor_.mount = std::move(handler); }
void ViewComponentBuilder::SetUnmountHandler(ComponentViewHandler handler) { descriptor_.unmount = std::move(handler); }
void ViewComponentBuilder::SetCustomCommandHandler(ComponentCommandHandler handler) {
  descriptor_.command = std::move(handler);
}
void ViewComponentBuilder::AddDirectEvent(const std::string& eventName) { AddOnce(descriptor_.directEvents, eventName); }
void ViewComponentBuilder::AddBubblingEvent(const std::string& eventName) {
  AddOnce(descriptor_.bubblingEvents, eventName);
}
void ViewComponentBuilder::AddNativeProp(const std::string& name, const std::string& type) {
  if (!name.empty()) descriptor_.nativeProps[name] = type;
}

ViewComponentDescriptorPtr ViewComponentBuilder::Build() && {
  if (!descriptor_.createProps) descriptor_.createProps = &MakePlainProps;
  return std::make_shared<const ViewComponentDescriptor>(std::move(descriptor_));
}

ViewComponentDescriptorPtr DescribeViewComponent(const std::string& name,
                                                 const std::function<void(IReactViewComponentBuilder&)>& provider) {
  ViewComponentBuilder builder(name);
  if (provider) {
    try {
      provider(builder);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "talvek: configuring the view component %s failed: %s\n", name.c_str(), error.what());
      return ViewComponentBuilder(name).Build();
    } catch (...) {
      std::fprintf(stderr, "talvek: configuring the view component %s failed\n", name.c_str());
      return ViewComponentBuilder(name).Build();
    }
  }
  return std::move(builder).Build();
}

void PlainComponentProps::SetProp(const std::string& name, const JSValue& value) {
  if (value.is_null()) {
    values_.erase(name);
  } else {
    values_[name] = value;
  }
}

std::string TopEventType(const std::string& eventName) {
  if (eventName.rfind("top", 0) == 0 && eventName.size() > 3 && std::isupper(static_cast<unsigned char>(eventName[3]))) {
    return eventName;
  }
  return "top" + Capitalised(eventName);
}

std::string EventPropName(const std::string& eventName) {
  const std::string type = TopEventType(eventName);
  return "on" + type.substr(3);
}

JSValue InteropViewConfig(const ViewComponentDescriptor& descriptor) {
  JSValue nativeProps = JSValue::object();
  for (const auto& [name, type] : descriptor.nativeProps) nativeProps[name] = type;
  JSValue direct = JSValue::object();
  for (const auto& event : descriptor.directEvents) {
    direct[TopEventType(event)] = JSValue{{"registrationName", EventPropName(event)}};
  }
  JSValue bubbling = JSValue::object();
  for (const auto& event : descriptor.bubblingEvents) {
    const std::string prop = EventPropName(event);
    bubbling[TopEventType(event)] = JSValue{{"phasedRegistrationNames", {{"bubbled", prop}, {"captured", prop + "Capture"}}}};
  }
  return JSValue{{"uiViewClassName", descriptor.name},
                 {"baseModuleName", "RCTView"},
                 {"NativeProps", nativeProps},
                 {"directEventTypes", direct},
                 {"bubblingEventTypes", bubbling}};
}

}  // namespace VirelantDesktop
