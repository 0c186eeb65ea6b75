// Calls a module's methods the way JavaScript would, without an engine:
// arguments go through the value reader's rule (ConvertArgs), promise
// methods get a PromiseProbe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge/module_builder.h"
#include "tests/support/promise_probe.h"

namespace VirelantDesktop::testing {

class ModuleUnderTest {
 public:
  // The module registered under `name` (fails the test when there is none).
  explicit ModuleUnderTest(const std::string& name);
  explicit ModuleUnderTest(const ModuleProvider& provider);

  const ModuleBuilder& Builder() const { return builder_; }
  void Initialize(const ReactContext& context);
  JSValueObject Constants() const { return builder_.CollectConstants(); }

  // Calls promise method `method`; missing arguments are undefined.
  std::shared_ptr<PromiseProbe> Call(const std::string& method, const std::vector<JSValue>& args = {});
  // Calls void method `method`.
  void CallVoid(const std::string& method, const std::vector<JSValue>& args = {});

 private:
  ModuleBuilder builder_;
  std::shared_ptr<void> module_;
};

}  // namespace VirelantDesktop::testing
