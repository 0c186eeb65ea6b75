#include "bridge/package_provider.h"

#include <mutex>

#include "bridge/module_registration.h"

namespace VirelantDesktop {
namespace {

std::mutex g_embedProviderMutex;  // guards g_embedProvider
ViewComponentProvider g_embedProvider;

}  // namespace

ViewComponentProvider EmbedViewComponentProvider() {
  std::lock_guard lock(g_embedProviderMutex);
  return g_embedProvider;
}

void SetEmbedViewComponentProvider(ViewComponentProvider provider) {
  std::lock_guard lock(g_embedProviderMutex);
  g_embedProvider = std::move(provider);
}

void CompReactPackageProvider::CreatePackage(IReactPackageBuilder& builder) {
  for (auto* record = ModuleRegistration::Head(); record != nullptr; record = record->Next()) {
    builder.AddTurboModule(record->Name(), record->MakeProvider());
  }
  auto* fabric = dynamic_cast<IReactPackageBuilderFabric*>(&builder);
  if (fabric == nullptr) return;
  // The component is offered even before its configuration is linked in; a
  // host renders nothing for an unconfigured component.
  fabric->AddViewComponent(kEmbedViewComponentName, [](IReactViewComponentBuilder& viewBuilder) {
    if (auto configure = EmbedViewComponentProvider()) configure(viewBuilder);
  });
}

}  // namespace VirelantDesktop
