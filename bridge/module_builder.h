// What a module tells the host about itself: its name, event emitter,
// initializer, constants and methods.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/arg_conversion.h"
#include "bridge/js_value.h"
#include "bridge/react_context.h"
#include "bridge/react_promise.h"

namespace VirelantDesktop {

// The framework's numbering: promise methods are 3, void methods 0.
enum class MethodReturnType { Void = 0, Callback = 1, TwoCallbacks = 2, Promise = 3 };

// Called on the JavaScript thread with the arguments already converted to
// `MethodInfo::argTypes`. `promise` is null for void methods.
using MethodDelegate = std::function<void(MethodArgs& args, PromiseStatePtr promise)>;
using InitializerDelegate = std::function<void(const ReactContext& context)>;
using ConstantProviderDelegate = std::function<void(JSValueObject& constants)>;

struct MethodInfo {
  std::string name;
  MethodReturnType returnType = MethodReturnType::Void;
  std::vector<ArgType> argTypes;
  MethodDelegate delegate;
};

class ModuleBuilder {
 public:
  void SetName(std::string name) { name_ = std::move(name); }
  void SetEventEmitterName(std::string name) { eventEmitterName_ = std::move(name); }
  void AddInitializer(InitializerDelegate initializer) { initializers_.push_back(std::move(initializer)); }
  void AddConstantProvider(ConstantProviderDelegate provider) { constantProviders_.push_back(std::move(provider)); }
  void AddMethod(std::string name, MethodReturnType returnType, std::vector<ArgType> argTypes,
                 MethodDelegate delegate) {
    methods_.push_back({std::move(name), returnType, std::move(argTypes), std::move(delegate)});
  }

  const std::string& Name() const noexcept { return name_; }
  const std::string& EventEmitterName() const noexcept { return eventEmitterName_; }
  const std::vector<InitializerDelegate>& Initializers() const noexcept { return initializers_; }
  const std::vector<ConstantProviderDelegate>& ConstantProviders() const noexcept { return constantProviders_; }
  const std::vector<MethodInfo>& Methods() const noexcept { return methods_; }
  const MethodInfo* FindMethod(std::string_view name) const noexcept;

  // Runs every constant provider into one object.
  JSValueObject CollectConstants() const;

 private:
  std::string name_;
  std::string eventEmitterName_;
  std::vector<InitializerDelegate> initializers_;
  std::vector<ConstantProviderDelegate> constantProviders_;
  std::vector<MethodInfo> methods_;
};

// Makes one module object and describes it into the builder. The returned
// object lives as long as the host that asked for it.
using ModuleProvider = std::function<std::shared_ptr<void>(ModuleBuilder& builder)>;

}  // namespace VirelantDesktop
