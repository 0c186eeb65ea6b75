#include "bridge/module_registration.h"

namespace VirelantDesktop {
namespace {

// Written only during static initialisation, which is single-threaded.
const ModuleRegistration* g_head = nullptr;

}  // namespace

ModuleRegistration::ModuleRegistration(MakeProviderFn makeProvider, const char* name) noexcept
    : makeProvider_(makeProvider), name_(name), next_(g_head) {
  g_head = this;
}

const ModuleRegistration* ModuleRegistration::Head() noexcept { return g_head; }

std::vector<std::string> RegisteredModuleNames() {
  std::vector<std::string> names;
  for (auto* record = ModuleRegistration::Head(); record != nullptr; record = record->Next()) {
    names.emplace_back(record->Name());
  }
  return names;
}

}  // namespace VirelantDesktop
