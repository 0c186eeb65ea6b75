#include "bridge/module_builder.h"

namespace VirelantDesktop {

const MethodInfo* ModuleBuilder::FindMethod(std::string_view name) const noexcept {
  for (const auto& method : methods_) {
    if (method.name == name) return &method;
  }
  return nullptr;
}

JSValueObject ModuleBuilder::CollectConstants() const {
  JSValueObject constants;
  for (const auto& provider : constantProviders_) provider(constants);
  return constants;
}

}  // namespace VirelantDesktop
