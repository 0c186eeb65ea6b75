// Typed description of a module class, read like the method table it is:
//
//   void Shell::Describe(ModuleTable<Shell>& table) {
//     table.Initializer(&Shell::Initialize);
//     table.Method("openExternal", &Shell::openExternal);   // (string, ReactPromise<bool>)
//     table.Method("setCaptionTheme", &Shell::setCaptionTheme);  // (string): void method
//   }
//
// A member function whose last parameter is a ReactPromise<R> becomes a
// promise method; any other becomes a void method. Parameter types map to the
// value reader's rule (arg_conversion.h): std::string, double, int64_t, bool,
// std::vector<std::string>, JSValue. Boundary methods must be noexcept.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "bridge/module_builder.h"

namespace VirelantDesktop {

inline constexpr const char* kEventEmitterName = "RCTDeviceEventEmitter";

namespace detail {

template <class T> struct ArgTypeOf;
template <> struct ArgTypeOf<std::string> { static constexpr ArgType value = ArgType::String; };
template <> struct ArgTypeOf<double> { static constexpr ArgType value = ArgType::Number; };
template <> struct ArgTypeOf<int64_t> { static constexpr ArgType value = ArgType::Int64; };
template <> struct ArgTypeOf<bool> { static constexpr ArgType value = ArgType::Boolean; };
template <> struct ArgTypeOf<std::vector<std::string>> { static constexpr ArgType value = ArgType::StringArray; };
template <> struct ArgTypeOf<JSValue> { static constexpr ArgType value = ArgType::Any; };

template <class T> struct IsReactPromise : std::false_type {};
template <class R> struct IsReactPromise<ReactPromise<R>> : std::true_type {};

// Reads an argument already converted to its declared type.
template <class T>
T TakeArg(JSValue& value) {
  if constexpr (std::is_same_v<T, JSValue>) {
    return std::move(value);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return std::move(value.get_ref<std::string&>());
  } else {
    return value.get<T>();
  }
}

template <class Module, class Fn, class Tuple, size_t... I>
void InvokeVoid(Module& module, Fn fn, MethodArgs& args, std::index_sequence<I...>) {
  (module.*fn)(TakeArg<std::tuple_element_t<I, Tuple>>(args[I])...);
}

template <class Module, class Fn, class Tuple, class Promise, size_t... I>
void InvokePromise(Module& module, Fn fn, MethodArgs& args, PromiseStatePtr state, std::index_sequence<I...>) {
  (module.*fn)(TakeArg<std::tuple_element_t<I, Tuple>>(args[I])..., Promise(std::move(state)));
}

}  // namespace detail

template <class Module>
class ModuleTable {
 public:
  ModuleTable(ModuleBuilder& builder, std::shared_ptr<Module> module) : builder_(builder), module_(std::move(module)) {}

  void Initializer(void (Module::*fn)(const ReactContext&) noexcept) {
    builder_.AddInitializer([module = module_, fn](const ReactContext& context) { ((*module).*fn)(context); });
  }

  void Constants(void (Module::*fn)(JSValueObject&) noexcept) {
    builder_.AddConstantProvider([module = module_, fn](JSValueObject& constants) { ((*module).*fn)(constants); });
  }

  template <class... Params>
  void Method(std::string name, void (Module::*fn)(Params...) noexcept) {
    using Tuple = std::tuple<std::decay_t<Params>...>;
    constexpr size_t kCount = sizeof...(Params);
    if constexpr (kCount > 0 && detail::IsReactPromise<std::tuple_element_t<kCount - 1, Tuple>>::value) {
      using Promise = std::tuple_element_t<kCount - 1, Tuple>;
      using Indices = std::make_index_sequence<kCount - 1>;
      builder_.AddMethod(std::move(name), MethodReturnType::Promise, ArgTypes<Tuple>(Indices{}),
                         [module = module_, fn](MethodArgs& args, PromiseStatePtr state) {
                           detail::InvokePromise<Module, decltype(fn), Tuple, Promise>(*module, fn, args,
                                                                                       std::move(state), Indices{});
                         });
    } else {
      using Indices = std::make_index_sequence<kCount>;
      builder_.AddMethod(std::move(name), MethodReturnType::Void, ArgTypes<Tuple>(Indices{}),
                         [module = module_, fn](MethodArgs& args, PromiseStatePtr) {
                           detail::InvokeVoid<Module, decltype(fn), Tuple>(*module, fn, args, Indices{});
                         });
    }
  }

 private:
  template <class Tuple, size_t... I>
  static std::vector<ArgType> ArgTypes(std::index_sequence<I...>) {
    return {detail::ArgTypeOf<std::tuple_element_t<I, Tuple>>::value...};
  }

  ModuleBuilder& builder_;
  std::shared_ptr<Module> module_;
};

// The provider of a module class: makes the object, names it, sets the event
// emitter name and lets the class describe its initializer, constants and
// methods (a static `Describe(ModuleTable<Module>&)`).
template <class Module>
ModuleProvider MakeModuleProvider(std::string_view name) {
  return [name = std::string(name)](ModuleBuilder& builder) -> std::shared_ptr<void> {
    auto module = std::make_shared<Module>();
    builder.SetName(name);
    builder.SetEventEmitterName(kEventEmitterName);
    ModuleTable<Module> table(builder, module);
    Module::Describe(table);
    return module;
  };
}

}  // namespace VirelantDesktop
