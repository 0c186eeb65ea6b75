// Packages: how the host learns which modules and view components exist.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bridge/module_builder.h"
#include "bridge/view_component_builder.h"

namespace VirelantDesktop {

using ViewComponentProvider = std::function<void(IReactViewComponentBuilder& builder)>;

class IReactPackageBuilder {
 public:
  virtual ~IReactPackageBuilder() = default;
  virtual void AddTurboModule(const std::string& name, ModuleProvider provider) = 0;
};

// Offered by package builders of hosts that render native view components.
class IReactPackageBuilderFabric {
 public:
  virtual ~IReactPackageBuilderFabric() = default;
  virtual void AddViewComponent(const std::string& name, ViewComponentProvider provider) = 0;
};

class IReactPackageProvider {
 public:
  virtual ~IReactPackageProvider() = default;
  virtual void CreatePackage(IReactPackageBuilder& builder) = 0;
};

inline constexpr const char* kEmbedViewComponentName = "TalvekEmbedView";

// Configures the embed view component; the embedded-content code supplies it
// (see SetEmbedViewComponentProvider).
ViewComponentProvider EmbedViewComponentProvider();
void SetEmbedViewComponentProvider(ViewComponentProvider provider);

// The program's package: every registered module, head to tail, then the
// embed view component when the builder takes view components.
class CompReactPackageProvider final : public IReactPackageProvider {
 public:
  void CreatePackage(IReactPackageBuilder& builder) override;
};

}  // namespace VirelantDesktop
