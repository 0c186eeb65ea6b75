// Configuring a native view component: what the builder keeps, the names
// its events travel under, and how the bundle is told about it.
#include "bridge/view_component.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace VirelantDesktop {
namespace {

TEST(ViewComponent, EventWordsBecomeRendererTypesAndPropNames) {
  EXPECT_EQ(TopEventType("embedState"), "topEmbedState");
  EXPECT_EQ(TopEventType("topEmbedState"), "topEmbedState");  // already a type
  EXPECT_EQ(TopEventType("topology"), "topTopology");         // a word that merely starts so
  EXPECT_EQ(EventPropName("embedExternal"), "onEmbedExternal");
  EXPECT_EQ(EventPropName("topLoad"), "onLoad");
}

TEST(ViewComponent, TheDescriptionCarriesPropsAndEventsForTheBundle) {
  auto descriptor = DescribeViewComponent("TalvekEmbedView", [](IReactViewComponentBuilder& builder) {
    builder.AddDirectEvent("embedState");
    builder.AddDirectEvent("embedState");  // once is enough
    builder.AddDirectEvent("embedExternal");
    builder.AddBubblingEvent("tap");
    builder.AddNativeProp("vid", "string");
    builder.AddNativeProp("tint", "Color");
  });
  EXPECT_EQ(descriptor->directEvents, (std::vector<std::string>{"embedState", "embedExternal"}));
  const JSValue config = InteropViewConfig(*descriptor);
  EXPECT_EQ(config["uiViewClassName"], "TalvekEmbedView");
  EXPECT_EQ(config["baseModuleName"], "RCTView");
  EXPECT_EQ(config["NativeProps"], (JSValue{{"tint", "Color"}, {"vid", "string"}}));
  EXPECT_EQ(config["directEventTypes"]["topEmbedState"]["registrationName"], "onEmbedState");
  EXPECT_EQ(config["directEventTypes"]["topEmbedExternal"]["registrationName"], "onEmbedExternal");
  EXPECT_EQ(config["bubblingEventTypes"]["topTap"]["phasedRegistrationNames"],
            (JSValue{{"bubbled", "onTap"}, {"captured", "onTapCapture"}}));
}

TEST(ViewComponent, WithoutAFactoryPropsArePlainMergedObjects) {
  auto descriptor = DescribeViewComponent("Plain", nullptr);
  ASSERT_TRUE(descriptor->createProps);
  ComponentPropsPtr first = descriptor->createProps(nullptr);
  first->SetProp("a", 1);
  first->SetProp("b", "x");
  ComponentPropsPtr second = descriptor->createProps(first);
  second->SetProp("a", nullptr);  // removed
  EXPECT_EQ(static_cast<PlainComponentProps&>(*first).Values(), (JSValue{{"a", 1}, {"b", "x"}}));
  EXPECT_EQ(static_cast<PlainComponentProps&>(*second).Values(), (JSValue{{"b", "x"}}));
}

TEST(ViewComponent, AProviderThatThrowsLeavesAnEmptyComponent) {
  auto descriptor = DescribeViewComponent("Broken", [](IReactViewComponentBuilder& builder) {
    builder.SetMountHandler([](IComponentView&) {});
    builder.AddDirectEvent("half");
    throw std::runtime_error("configuration failed");
  });
  EXPECT_EQ(descriptor->name, "Broken");
  EXPECT_FALSE(descriptor->mount);
  EXPECT_TRUE(descriptor->directEvents.empty());
  EXPECT_TRUE(descriptor->createProps);
}

}  // namespace
}  // namespace VirelantDesktop
