#include "bridge/module_registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "bridge/package_provider.h"
#include "bridge/view_component.h"

namespace VirelantDesktop {
namespace {

// The product's modules linked so far. Every module that lands adds its
// JavaScript name here: a module whose object file the linker dropped
// would be missing from the list.
const std::vector<std::string> kProductModules = {"Attach", "AuthLoopback", "EngineHost", "KV", "Media", "SecureStore", "Share", "Shell", "Updater"};

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ModuleRegistration, EveryLinkedModuleIsRegisteredOnce) {
  std::vector<std::string> expected = kProductModules;
  expected.push_back("TalvekProbe");  // linked into this test program as an object file
  EXPECT_EQ(Sorted(RegisteredModuleNames()), Sorted(expected));
}

class RecordingBuilder : public IReactPackageBuilder {
 public:
  void AddTurboModule(const std::string& name, ModuleProvider provider) override {
    modules.push_back(name);
    EXPECT_TRUE(static_cast<bool>(provider));
  }
  std::vector<std::string> modules;
};

class RecordingFabricBuilder : public RecordingBuilder, public IReactPackageBuilderFabric {
 public:
  void AddViewComponent(const std::string& name, ViewComponentProvider provider) override {
    views.push_back(name);
    lastProvider = std::move(provider);
  }
  std::vector<std::string> views;
  ViewComponentProvider lastProvider;
};

TEST(CompReactPackageProvider, AddsModulesHeadToTail) {
  RecordingBuilder builder;
  CompReactPackageProvider().CreatePackage(builder);
  EXPECT_EQ(builder.modules, RegisteredModuleNames());
}

TEST(CompReactPackageProvider, AddsTheEmbedViewOnlyWhenTheBuilderTakesViews) {
  RecordingFabricBuilder fabric;
  CompReactPackageProvider().CreatePackage(fabric);
  EXPECT_EQ(fabric.views, std::vector<std::string>{"TalvekEmbedView"});
  EXPECT_EQ(fabric.modules, RegisteredModuleNames());

  // The view's provider defers to whatever configuration is installed.
  ViewComponentBuilder viewBuilder("TalvekEmbedView");
  fabric.lastProvider(viewBuilder);  // nothing installed: does nothing
  int configured = 0;
  SetEmbedViewComponentProvider([&](IReactViewComponentBuilder&) { ++configured; });
  fabric.lastProvider(viewBuilder);
  SetEmbedViewComponentProvider(nullptr);
  EXPECT_EQ(configured, 1);
}

// Every method JavaScript may call, module by module: a method a module
// forgets to register fails here, not in a user's hands.
const std::map<std::string, std::vector<std::string>> kSurface = {
    {"EngineHost", {"start", "send", "stop", "stopGraceful", "isRunning", "pid", "bundledPath"}},
    {"SecureStore", {"get", "set", "remove"}},
    {"KV", {"get", "set", "remove"}},
    {"Shell", {"openExternal", "openFolder", "pickFolder", "setCaptionTheme", "setWindowResizable", "appInfo"}},
    {"Media", {"fetchToCache", "peek", "cancel", "remove", "removeThread", "clear", "materialize", "saveCopy",
               "openFile", "revealInFolder", "stats"}},
    {"Attach", {"readClipboard", "setDropEnabled", "ingest", "pickFiles", "discard", "readBase64"}},
    {"Share", {"share"}},
    {"AuthLoopback", {"start", "result", "cancel"}},
    {"Updater", {"check", "download", "apply", "restartDetected", "discard", "readPause"}},
};

TEST(ModuleRegistration, EveryModuleOffersItsWholeSurface) {
  for (auto* record = ModuleRegistration::Head(); record != nullptr; record = record->Next()) {
    const auto expected = kSurface.find(record->Name());
    if (expected == kSurface.end()) continue;  // test-only modules
    SCOPED_TRACE(record->Name());
    ModuleBuilder builder;
    record->MakeProvider()(builder);
    std::vector<std::string> methods;
    for (const auto& method : builder.Methods()) methods.push_back(method.name);
    EXPECT_EQ(Sorted(methods), Sorted(expected->second));
  }
  for (const auto& name : kProductModules) EXPECT_EQ(kSurface.count(name), 1u) << name;
}

TEST(ModuleRegistration, ProvidersMakeNamedModules) {
  for (auto* record = ModuleRegistration::Head(); record != nullptr; record = record->Next()) {
    SCOPED_TRACE(record->Name());
    ModuleBuilder builder;
    auto object = record->MakeProvider()(builder);
    EXPECT_NE(object, nullptr);
    EXPECT_EQ(builder.Name(), record->Name());
    EXPECT_EQ(builder.EventEmitterName(), "RCTDeviceEventEmitter");
  }
}

}  // namespace
}  // namespace VirelantDesktop
