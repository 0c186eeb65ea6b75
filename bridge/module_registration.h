// The process-wide list of native modules.
//
// Each module file defines one static `ModuleRegistration` (through
// TALVEK_REGISTER_MODULE), which links itself at the head of the list during
// static initialisation. The list is complete before main() runs and never
// changes afterwards. Module files are linked as object files, never from an
// archive, or the linker would drop them: nothing references them by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bridge/module_builder.h"
#include "bridge/module_table.h"

namespace VirelantDesktop {

class ModuleRegistration {
 public:
  using MakeProviderFn = ModuleProvider (*)(std::string_view name);

  ModuleRegistration(MakeProviderFn makeProvider, const char* name) noexcept;
  ModuleRegistration(const ModuleRegistration&) = delete;
  ModuleRegistration& operator=(const ModuleRegistration&) = delete;

  static const ModuleRegistration* Head() noexcept;

  ModuleProvider MakeProvider() const { return makeProvider_(name_); }
  const char* Name() const noexcept { return name_; }
  const ModuleRegistration* Next() const noexcept { return next_; }

 private:
  MakeProviderFn makeProvider_;
  const char* name_;
  const ModuleRegistration* next_;
};

// The registered names, head to tail.
std::vector<std::string> RegisteredModuleNames();

}  // namespace VirelantDesktop

// Registers module class `Class` under the JavaScript name `JsName`.
#define TALVEK_REGISTER_MODULE(Class, JsName)                                  \
  static const ::VirelantDesktop::ModuleRegistration s_talvekModuleRegistration_##Class( \
      &::VirelantDesktop::MakeModuleProvider<Class>, JsName)
