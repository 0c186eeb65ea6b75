#include "tests/support/test_invoker.h"

#include <gtest/gtest.h>

#include "bridge/module_registration.h"

namespace VirelantDesktop::testing {

ModuleUnderTest::ModuleUnderTest(const std::string& name) {
  for (auto* record = ModuleRegistration::Head(); record != nullptr; record = record->Next()) {
    if (name == record->Name()) {
      module_ = record->MakeProvider()(builder_);
      return;
    }
  }
  ADD_FAILURE() << "no module registered as " << name;
}

ModuleUnderTest::ModuleUnderTest(const ModuleProvider& provider) { module_ = provider(builder_); }

void ModuleUnderTest::Initialize(const ReactContext& context) {
  for (const auto& initializer : builder_.Initializers()) initializer(context);
}

std::shared_ptr<PromiseProbe> ModuleUnderTest::Call(const std::string& method, const std::vector<JSValue>& args) {
  auto probe = std::make_shared<PromiseProbe>();
  const MethodInfo* info = builder_.FindMethod(method);
  if (info == nullptr || info->returnType != MethodReturnType::Promise) {
    ADD_FAILURE() << "no promise method " << method;
    return probe;
  }
  MethodArgs converted = ConvertArgs(args, info->argTypes);
  info->delegate(converted, probe->MakeState());
  return probe;
}

void ModuleUnderTest::CallVoid(const std::string& method, const std::vector<JSValue>& args) {
  const MethodInfo* info = builder_.FindMethod(method);
  if (info == nullptr || info->returnType != MethodReturnType::Void) {
    ADD_FAILURE() << "no void method " << method;
    return;
  }
  MethodArgs converted = ConvertArgs(args, info->argTypes);
  info->delegate(converted, nullptr);
}

}  // namespace VirelantDesktop::testing
