#include "host/js_runtime.h"

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <cmath>
#include <cstring>

#include "host/host_bridge.h"
#include "host/js_convert.h"
#include "host/jsc_string.h"
#include "host/core_modules_source.h"
#include "host/prelude_source.h"
#include "platform/process_setup.h"
#include "platform/read_file.h"

// Exported by the engine but missing from its public headers: called with
// (promise, reason) for every rejection still unhandled once the microtask
// queue has drained.
extern "C" void JSGlobalContextSetUnhandledRejectionCallback(JSGlobalContextRef ctx, JSObjectRef function,
                                                             JSValueRef* exception);

namespace VirelantDesktop::host {
namespace {

thread_local JsRuntime* t_current = nullptr;

// Runs `body` and turns a C++ exception into a JavaScript one: nothing may
// unwind through the engine's C frames.
template <class Body>
JSValueRef Guarded(JSContextRef ctx, JSValueRef* exception, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    if (exception != nullptr) {
      JSValueRef message = MakeJsString(ctx, e.what());
      *exception = JSObjectMakeError(ctx, 1, &message, nullptr);
    }
  } catch (...) {
    if (exception != nullptr) *exception = JSObjectMakeError(ctx, 0, nullptr, nullptr);
  }
  return JSValueMakeUndefined(ctx);
}

}  // namespace

JsRuntime* JsRuntime::Current() noexcept { return t_current; }

JsRuntime::JsRuntime(std::shared_ptr<HostCore> core, std::shared_ptr<const PackageRegistry> packages)
    : core_(std::move(core)), packages_(std::move(packages)) {
  reactContext_ = MakeHostReactContext(core_);
  group_ = JSContextGroupCreate();
  ctx_ = JSGlobalContextCreateInGroup(group_, nullptr);
  {
    JsString name("VirelantDesktop");
    JSGlobalContextSetName(ctx_, name.get());
  }

  JSClassDefinition method = kJSClassDefinitionEmpty;
  method.className = "NativeMethod";
  method.callAsFunction = &JsRuntime::CallModuleMethod;
  methodClass_ = JSClassCreate(&method);
  JSClassDefinition constants = kJSClassDefinitionEmpty;
  constants.className = "NativeConstants";
  constants.callAsFunction = &JsRuntime::CallGetConstants;
  constantsClass_ = JSClassCreate(&constants);

  t_current = this;
  InstallGlobals();
  // The engine opens some descriptors of its own without close-on-exec.
  platform::MarkDescriptorsCloseOnExec();
}

JsRuntime::~JsRuntime() {
  core_->Silence();
  // Tasks still queued may hold promise handles whose destruction posts
  // again; the closed queue drops those too.
  core_->jsQueue().Close();
  t_current = nullptr;

  for (auto& [id, timer] : timers_) {
    g_source_destroy(timer.source);
    g_source_unref(timer.source);
    JSValueUnprotect(ctx_, timer.callback);
    JSValueUnprotect(ctx_, timer.args);
  }
  timers_.clear();
  for (auto& [id, pending] : promises_) {
    JSValueUnprotect(ctx_, pending.resolve);
    JSValueUnprotect(ctx_, pending.reject);
  }
  promises_.clear();
  for (auto& [name, record] : modules_) {
    if (record->jsObject != nullptr) JSValueUnprotect(ctx_, record->jsObject);
  }
  modules_.clear();  // module objects end on the JS thread
  fabric_.reset();
  if (describeError_ != nullptr) JSValueUnprotect(ctx_, describeError_);
  if (startComponent_ != nullptr) JSValueUnprotect(ctx_, startComponent_);
  if (functionPrototype_ != nullptr) JSValueUnprotect(ctx_, functionPrototype_);

  JSGlobalContextRelease(ctx_);
  JSContextGroupRelease(group_);
  JSClassRelease(methodClass_);
  JSClassRelease(constantsClass_);
}

JSObjectRef JsRuntime::MakeFunction(const char* name, JSObjectCallAsFunctionCallback callback) {
  JsString jsName(name);
  return JSObjectMakeFunctionWithCallback(ctx_, jsName.get(), callback);
}

JSObjectRef JsRuntime::MakeNativeFunction(JSClassRef cls, void* data, const std::string& name) {
  JSObjectRef function = JSObjectMake(ctx_, cls, data);
  // The own "name" first: once Function.prototype (whose "name" is
  // read-only) is the prototype, a plain set would be refused.
  SetProperty(ctx_, function, "name", MakeJsString(ctx_, name),
              kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontEnum);
  if (functionPrototype_ != nullptr) JSObjectSetPrototype(ctx_, function, functionPrototype_);
  return function;
}

void JsRuntime::InstallGlobals() {
  JSObjectRef global = JSContextGetGlobalObject(ctx_);
  if (JSValueRef function = GetProperty(ctx_, global, "Function"); function != nullptr) {
    JSValueRef prototype = GetProperty(ctx_, JSValueToObject(ctx_, function, nullptr), "prototype");
    if (prototype != nullptr && JSValueIsObject(ctx_, prototype)) {
      functionPrototype_ = JSValueToObject(ctx_, prototype, nullptr);
      JSValueProtect(ctx_, functionPrototype_);
    }
  }
  const auto hidden = kJSPropertyAttributeDontEnum;
  SetProperty(ctx_, global, "__turboModuleProxy", MakeFunction("__turboModuleProxy", &NativeModuleProxy), hidden);

  JSObjectRef native = JSObjectMake(ctx_, nullptr, nullptr);
  SetProperty(ctx_, native, "write", MakeFunction("write", &NativeWrite));
  SetProperty(ctx_, native, "reportError", MakeFunction("reportError", &NativeReportError));
  SetProperty(ctx_, native, "setTimer", MakeFunction("setTimer", &NativeSetTimer));
  SetProperty(ctx_, native, "clearTimer", MakeFunction("clearTimer", &NativeClearTimer));
  SetProperty(ctx_, native, "environment", MakeFunction("environment", &NativeEnvironment));
  SetProperty(ctx_, native, "now", MakeFunction("now", &NativeNow));
  SetProperty(ctx_, native, "bundleUrl", MakeFunction("bundleUrl", &NativeBundleUrl));
  SetProperty(ctx_, native, "noteError", MakeFunction("noteError", &NativeNoteError));
  SetProperty(ctx_, native, "imageSize", MakeFunction("imageSize", &NativeImageSize));
  SetProperty(ctx_, native, "viewComponent", MakeFunction("viewComponent", &NativeViewComponent));
  SetProperty(ctx_, native, "rootTag", JSValueMakeNumber(ctx_, kRootSurfaceTag));
  {
    // The framework's own modules, built by a script of their own.
    JsString source(kCoreModulesSource);
    JsString url("talvek:core-modules");
    JSValueRef exception = nullptr;
    JSValueRef factory = JSEvaluateScript(ctx_, source.get(), nullptr, url.get(), 1, &exception);
    if (exception != nullptr || factory == nullptr) factory = JSValueMakeUndefined(ctx_);
    SetProperty(ctx_, native, "coreModules", factory);
  }

  // The surface React's renderer mounts through.
  display_ = core_->options().display;
  RenderOptions render = core_->options().render;
  if (!render.isNativeComponent && packages_) {
    std::shared_ptr<const PackageRegistry> packages = packages_;
    render.isNativeComponent = [packages](const std::string& name) { return packages->viewComponents.count(name) != 0; };
  }
  fabric_ = std::make_unique<FabricUIManager>(ctx_, core_, render);
  fabric_->SetConstraints(display_.constraints);
  SetProperty(ctx_, global, "nativeFabricUIManager", fabric_->Object(), hidden);

  if (core_->options().runnerApi) {
    JSObjectRef runner = JSObjectMake(ctx_, nullptr, nullptr);
    SetProperty(ctx_, runner, "exit", MakeFunction("exit", &NativeRunnerExit));
    SetProperty(ctx_, global, "__talvekRun", runner, hidden);
  }

  JsString preludeSource(kPreludeSource);
  JsString preludeUrl("talvek:prelude");
  JSValueRef exception = nullptr;
  JSValueRef factory = JSEvaluateScript(ctx_, preludeSource.get(), nullptr, preludeUrl.get(), 1, &exception);
  JSValueRef hooks = nullptr;
  if (exception == nullptr && factory != nullptr && JSValueIsObject(ctx_, factory)) {
    JSValueRef arg = native;
    hooks = JSObjectCallAsFunction(ctx_, JSValueToObject(ctx_, factory, nullptr), nullptr, 1, &arg, &exception);
  }
  if (exception != nullptr || hooks == nullptr || !JSValueIsObject(ctx_, hooks)) {
    // Only a broken build gets here; say so loudly.
    const std::string why = exception != nullptr ? JsValueToUtf8(ctx_, exception) : "it returned no hooks";
    core_->Write(ConsoleStream::Err, "talvek: the host prelude failed: " + why);
    core_->NoteScriptError();
    return;
  }
  JSObjectRef hooksObject = JSValueToObject(ctx_, hooks, nullptr);
  describeError_ = JSValueToObject(ctx_, GetProperty(ctx_, hooksObject, "describeError"), nullptr);
  startComponent_ = JSValueToObject(ctx_, GetProperty(ctx_, hooksObject, "startComponent"), nullptr);
  JSValueProtect(ctx_, describeError_);
  JSValueProtect(ctx_, startComponent_);

  JSObjectRef onRejection = MakeFunction("onUnhandledRejection", &NativeUnhandledRejection);
  JSGlobalContextSetUnhandledRejectionCallback(ctx_, onRejection, nullptr);
}

// ---- bundle and errors --------------------------------------------------------------

void JsRuntime::RunBundle(const std::string& path, const std::string& componentName) {
  bundlePath_ = path;
  platform::ReadFileResult file = platform::ReadWholeFile(path);
  if (file.status != platform::ReadStatus::Ok) {
    core_->Write(ConsoleStream::Err, "talvek: cannot read the bundle " + path + ": " + std::strerror(file.error));
    core_->NoteScriptError();
    core_->RequestExit(kExitScriptError);
    return;
  }
  JsString script(file.data);
  file.data.clear();
  file.data.shrink_to_fit();
  JsString url(path);
  JSValueRef exception = nullptr;
  if (!JSCheckScriptSyntax(ctx_, script.get(), url.get(), 1, &exception)) {
    std::string where = path;
    if (exception != nullptr && JSValueIsObject(ctx_, exception)) {
      JSObjectRef object = JSValueToObject(ctx_, exception, nullptr);
      if (JSValueRef line = GetProperty(ctx_, object, "line")) where += ":" + JsValueToUtf8(ctx_, line);
    }
    core_->Write(ConsoleStream::Err, where + ": " + JsValueToUtf8(ctx_, exception));
    core_->NoteScriptError();
    core_->RequestExit(kExitScriptError);
    return;
  }
  exception = nullptr;
  JSEvaluateScript(ctx_, script.get(), nullptr, url.get(), 1, &exception);
  if (exception != nullptr) ReportException(exception);

  if (startComponent_ == nullptr || componentName.empty()) return;
  JSValueRef args[] = {MakeJsString(ctx_, componentName), JSValueMakeBoolean(ctx_, core_->options().componentRequired)};
  CallGuarded(startComponent_, nullptr, 2, args);
}

bool JsRuntime::Evaluate(const std::string& source, const std::string& sourceUrl) {
  JsString script(source);
  JsString url(sourceUrl);
  JSValueRef exception = nullptr;
  JSEvaluateScript(ctx_, script.get(), nullptr, url.get(), 1, &exception);
  if (exception == nullptr) return true;
  ReportException(exception);
  return false;
}

std::string JsRuntime::Describe(JSValueRef value) {
  if (describeError_ != nullptr) {
    JSValueRef exception = nullptr;
    JSValueRef text = JSObjectCallAsFunction(ctx_, describeError_, nullptr, 1, &value, &exception);
    if (exception == nullptr && text != nullptr) return JsValueToUtf8(ctx_, text);
  }
  return JsValueToUtf8(ctx_, value);
}

void JsRuntime::ReportException(JSValueRef exception, const char* prefix) {
  core_->NoteScriptError();
  core_->Write(ConsoleStream::Err, std::string(prefix) + " " + Describe(exception));
}

void JsRuntime::CallGuarded(JSObjectRef function, JSObjectRef thisObject, size_t argc, const JSValueRef argv[]) {
  JSValueRef exception = nullptr;
  JSObjectCallAsFunction(ctx_, function, thisObject, argc, argv, &exception);
  if (exception != nullptr) ReportException(exception);
}

// ---- modules --------------------------------------------------------------------------

JSValueRef JsRuntime::GetModule(const std::string& name) {
  if (auto it = modules_.find(name); it != modules_.end()) return it->second->jsObject;
  auto provider = packages_->modules.find(name);
  if (provider == packages_->modules.end()) return JSValueMakeNull(ctx_);

  auto record = std::make_unique<ModuleRecord>();
  record->object = provider->second(record->builder);
  record->constants = record->builder.CollectConstants();

  JSObjectRef object = JSObjectMake(ctx_, nullptr, nullptr);
  for (const MethodInfo& method : record->builder.Methods()) {
    auto binding = std::make_unique<MethodBinding>(MethodBinding{record.get(), &method});
    SetProperty(ctx_, object, method.name.c_str(), MakeNativeFunction(methodClass_, binding.get(), method.name));
    record->bindings.push_back(std::move(binding));
  }
  for (const auto& [key, value] : record->constants) SetProperty(ctx_, object, key.c_str(), ToJs(ctx_, value));
  SetProperty(ctx_, object, "getConstants", MakeNativeFunction(constantsClass_, record.get(), "getConstants"),
              kJSPropertyAttributeDontEnum);
  JSValueProtect(ctx_, object);
  record->jsObject = object;

  ModuleRecord& stored = *record;
  modules_.emplace(name, std::move(record));
  for (const auto& initializer : stored.builder.Initializers()) initializer(reactContext_);
  return object;
}

JSValueRef JsRuntime::InvokeMethod(const MethodBinding& binding, size_t argc, const JSValueRef argv[]) {
  const MethodInfo& method = *binding.method;
  MethodArgs args;
  args.reserve(method.argTypes.size());
  for (size_t i = 0; i < method.argTypes.size(); ++i) {
    args.push_back(ReadArg(ctx_, i < argc ? argv[i] : nullptr, method.argTypes[i]));
  }
  // Reading arguments never throws into the caller; should an engine call
  // made on the way leave an exception pending, it must not fail the promise.
  TakePendingException(ctx_);
  // A delegate reports failures through its promise; one that throws anyway
  // must not turn the call into a JavaScript exception (a void method never
  // answers, a promise method's promise then rejects as destroyed).
  if (method.returnType != MethodReturnType::Promise) {
    try {
      method.delegate(args, nullptr);
    } catch (...) {
    }
    return JSValueMakeUndefined(ctx_);
  }

  JSObjectRef resolve = nullptr;
  JSObjectRef reject = nullptr;
  JSValueRef exception = nullptr;
  JSObjectRef promise = JSObjectMakeDeferredPromise(ctx_, &resolve, &reject, &exception);
  if (promise == nullptr) throw std::runtime_error("cannot create a promise");
  const uint64_t id = nextPromiseId_++;
  JSValueProtect(ctx_, resolve);
  JSValueProtect(ctx_, reject);
  promises_.emplace(id, PendingPromise{resolve, reject});
  try {
    method.delegate(args, std::make_shared<PromiseState>(MakeHostPromiseSink(core_, id)));
  } catch (...) {
  }
  return promise;
}

JSObjectRef JsRuntime::MakeRejectionError(const PromiseError& error) {
  PromiseError normal = NormalizeRejection(error);
  JSObjectRef object = JSObjectMakeError(ctx_, 0, nullptr, nullptr);
  SetProperty(ctx_, object, "code", MakeJsString(ctx_, normal.code));
  SetProperty(ctx_, object, "message", MakeJsString(ctx_, normal.message));
  SetProperty(ctx_, object, "userInfo", ToJs(ctx_, normal.userInfo));
  return object;
}

void JsRuntime::SettlePromise(uint64_t id, bool resolved, const JSValue& value, const PromiseError& error) {
  auto it = promises_.find(id);
  if (it == promises_.end()) return;
  PendingPromise pending = it->second;
  promises_.erase(it);
  JSValueRef arg = resolved ? ToJs(ctx_, value) : MakeRejectionError(error);
  CallGuarded(resolved ? pending.resolve : pending.reject, nullptr, 1, &arg);
  JSValueUnprotect(ctx_, pending.resolve);
  JSValueUnprotect(ctx_, pending.reject);
}

void JsRuntime::EmitEvent(const std::string& emitterName, const std::string& eventName, const JSValue& payload) {
  JSObjectRef global = JSContextGetGlobalObject(ctx_);
  JSValueRef emitter = GetProperty(ctx_, global, emitterName.c_str());
  if (emitter == nullptr || !JSValueIsObject(ctx_, emitter)) return;
  JSObjectRef emitterObject = JSValueToObject(ctx_, emitter, nullptr);
  JSValueRef emit = GetProperty(ctx_, emitterObject, "emit");
  if (emit == nullptr || !JSValueIsObject(ctx_, emit)) return;
  JSObjectRef emitFunction = JSValueToObject(ctx_, emit, nullptr);
  if (!JSObjectIsFunction(ctx_, emitFunction)) return;
  JSValueRef args[] = {MakeJsString(ctx_, eventName), ToJs(ctx_, payload)};
  CallGuarded(emitFunction, emitterObject, 2, args);
}

// ---- timers -----------------------------------------------------------------------------

namespace {

struct TimerTag {
  uint64_t id;
};

}  // namespace

double JsRuntime::AddTimer(JSObjectRef callback, double delayMs, bool repeat, JSObjectRef args) {
  // Delays outside [0, 2^31 - 1] ms, and NaN, count as 0, as in browsers.
  guint delay = 0;
  if (std::isfinite(delayMs) && delayMs > 0 && delayMs <= 2147483647.0) delay = static_cast<guint>(delayMs);
  const uint64_t id = nextTimerId_++;
  GSource* source = g_timeout_source_new(delay);
  g_source_set_callback(source, &JsRuntime::OnTimer, new TimerTag{id}, [](gpointer tag) {
    delete static_cast<TimerTag*>(tag);
  });
  JSValueProtect(ctx_, callback);
  JSValueProtect(ctx_, args);
  timers_.emplace(id, Timer{callback, args, repeat, source, core_->liveness().Token()});
  g_source_attach(source, g_main_context_get_thread_default());
  return static_cast<double>(id);
}

void JsRuntime::ClearTimer(double id) {
  if (!(id >= 1) || id > 9007199254740991.0) return;
  auto it = timers_.find(static_cast<uint64_t>(id));
  if (it == timers_.end()) return;
  Timer timer = std::move(it->second);
  timers_.erase(it);
  g_source_destroy(timer.source);
  g_source_unref(timer.source);
  JSValueUnprotect(ctx_, timer.callback);
  JSValueUnprotect(ctx_, timer.args);
}

gboolean JsRuntime::OnTimer(gpointer data) {
  JsRuntime* runtime = Current();
  if (runtime == nullptr) return G_SOURCE_REMOVE;
  return runtime->FireTimer(static_cast<TimerTag*>(data)->id) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

bool JsRuntime::FireTimer(uint64_t id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  JSObjectRef callback = it->second.callback;
  JSObjectRef args = it->second.args;
  const bool repeat = it->second.repeat;
  KeepAliveToken hold;
  if (!repeat) {
    // A one-shot timer is gone before its callback runs (clearTimeout from
    // inside it is a no-op); its hold ends after the callback.
    hold = std::move(it->second.hold);
    g_source_unref(it->second.source);
    timers_.erase(it);
  }
  std::vector<JSValueRef> argv;  // held by `args`, which stays protected
  JSValueRef length = GetProperty(ctx_, args, "length");
  const unsigned count = length != nullptr ? static_cast<unsigned>(JSValueToNumber(ctx_, length, nullptr)) : 0;
  for (unsigned i = 0; i < count; ++i) argv.push_back(JSObjectGetPropertyAtIndex(ctx_, args, i, nullptr));
  CallGuarded(callback, nullptr, argv.size(), argv.data());
  if (!repeat) {
    JSValueUnprotect(ctx_, callback);
    JSValueUnprotect(ctx_, args);
    return false;
  }
  return timers_.count(id) != 0;  // cleared from inside its own callback
}

// ---- native callbacks ------------------------------------------------------------------

JSValueRef JsRuntime::NativeWrite(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc, const JSValueRef argv[],
                                  JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    if (runtime == nullptr || argc < 2) return JSValueMakeUndefined(ctx);
    const auto stream = JSValueToNumber(ctx, argv[0], nullptr) == 2 ? ConsoleStream::Err : ConsoleStream::Out;
    runtime->core_->Write(stream, JsValueToUtf8(ctx, argv[1]));
    return JSValueMakeUndefined(ctx);
  });
}

JSValueRef JsRuntime::NativeReportError(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc,
                                        const JSValueRef argv[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    if (JsRuntime* runtime = Current()) runtime->ReportException(argc > 0 ? argv[0] : JSValueMakeUndefined(ctx));
    return JSValueMakeUndefined(ctx);
  });
}

JSValueRef JsRuntime::NativeUnhandledRejection(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc,
                                               const JSValueRef argv[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    if (JsRuntime* runtime = Current()) {
      runtime->ReportException(argc > 1 ? argv[1] : JSValueMakeUndefined(ctx), "Unhandled promise rejection:");
    }
    return JSValueMakeUndefined(ctx);
  });
}

JSValueRef JsRuntime::NativeSetTimer(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc, const JSValueRef argv[],
                                     JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    if (runtime == nullptr || argc < 4 || !JSValueIsObject(ctx, argv[0]) || !JSValueIsObject(ctx, argv[3])) {
      return JSValueMakeUndefined(ctx);
    }
    double delay = JSValueIsNumber(ctx, argv[1]) ? JSValueToNumber(ctx, argv[1], nullptr) : 0;
    return JSValueMakeNumber(ctx, runtime->AddTimer(JSValueToObject(ctx, argv[0], nullptr), delay,
                                                    JSValueToBoolean(ctx, argv[2]),
                                                    JSValueToObject(ctx, argv[3], nullptr)));
  });
}

JSValueRef JsRuntime::NativeClearTimer(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc,
                                       const JSValueRef argv[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    if (runtime != nullptr && argc > 0 && JSValueIsNumber(ctx, argv[0])) {
      runtime->ClearTimer(JSValueToNumber(ctx, argv[0], nullptr));
    }
    return JSValueMakeUndefined(ctx);
  });
}

// ---- display and rendering ------------------------------------------------------------

JSValue JsRuntime::EnvironmentJson() const {
  const auto& c = display_.constraints;
  return JSValue{{"width", c.size.width},
                 {"height", c.size.height},
                 {"scale", c.pointScale},
                 {"fontScale", c.fontScale},
                 {"screenWidth", display_.screen.width},
                 {"screenHeight", display_.screen.height},
                 {"colorScheme", display_.colorScheme},
                 {"isRTL", c.direction == render::LayoutDirection::Rtl},
                 {"locale", display_.locale},
                 {"osVersion", display_.osVersion}};
}

void JsRuntime::UpdateDisplay(const DisplayEnvironment& display) {
  const DisplayEnvironment before = display_;
  display_ = display;
  if (fabric_) fabric_->SetConstraints(display.constraints);
  const JSValue env = EnvironmentJson();
  if (before.constraints != display.constraints || before.screen != display.screen) {
    JSValue window{{"width", env["width"]}, {"height", env["height"]}, {"scale", env["scale"]},
                   {"fontScale", env["fontScale"]}};
    JSValue screen = window;
    screen["width"] = env["screenWidth"];
    screen["height"] = env["screenHeight"];
    EmitEvent("RCTDeviceEventEmitter", "didUpdateDimensions", JSValue{{"window", window}, {"screen", screen}});
  }
  if (before.colorScheme != display.colorScheme) {
    EmitEvent("RCTDeviceEventEmitter", "appearanceChanged", JSValue{{"colorScheme", display.colorScheme}});
  }
}

void JsRuntime::DispatchViewEvent(render::Tag tag, const std::string& type, const JSValue& payload) {
  if (fabric_) fabric_->DispatchEvent(tag, type, payload);
}

JSValueRef JsRuntime::NativeEnvironment(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                        JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    return runtime != nullptr ? ToJs(ctx, runtime->EnvironmentJson()) : JSValueMakeNull(ctx);
  });
}

JSValueRef JsRuntime::NativeNow(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*) {
  return JSValueMakeNumber(ctx, static_cast<double>(g_get_monotonic_time()) / 1000.0);
}

JSValueRef JsRuntime::NativeBundleUrl(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                      JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    return MakeJsString(ctx, runtime != nullptr && !runtime->bundlePath_.empty() ? "file://" + runtime->bundlePath_
                                                                                : std::string());
  });
}

JSValueRef JsRuntime::NativeNoteError(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                      JSValueRef*) {
  if (JsRuntime* runtime = Current()) runtime->core_->NoteScriptError();
  return JSValueMakeUndefined(ctx);
}

JSValueRef JsRuntime::NativeViewComponent(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc,
                                          const JSValueRef argv[], JSValueRef* exception) {
  // A registered native component: its description; a component the host
  // draws itself: "core"; anything else: null.
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    if (runtime == nullptr || argc < 1 || !JSValueIsString(ctx, argv[0])) return JSValueMakeNull(ctx);
    const std::string name = JsValueToUtf8(ctx, argv[0]);
    if (runtime->packages_) {
      auto found = runtime->packages_->viewComponents.find(name);
      if (found != runtime->packages_->viewComponents.end() && found->second) {
        return ToJs(ctx, InteropViewConfig(*found->second));
      }
    }
    if (render::KindOfComponent(name, nullptr) != render::ViewKind::Unknown) return MakeJsString(ctx, "core");
    return JSValueMakeNull(ctx);
  });
}

JSValueRef JsRuntime::NativeImageSize(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc, const JSValueRef argv[],
                                      JSValueRef* exception) {
  // Image.getSize(uri): [width, height] in pixels, read off the JS thread.
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    JSObjectRef resolve = nullptr;
    JSObjectRef reject = nullptr;
    JSObjectRef promise = JSObjectMakeDeferredPromise(ctx, &resolve, &reject, nullptr);
    if (promise == nullptr || runtime == nullptr) return JSValueMakeUndefined(ctx);
    const uint64_t id = runtime->nextPromiseId_++;
    JSValueProtect(ctx, resolve);
    JSValueProtect(ctx, reject);
    runtime->promises_.emplace(id, PendingPromise{resolve, reject});
    auto state = std::make_shared<PromiseState>(MakeHostPromiseSink(runtime->core_, id));
    const auto& imageSize = runtime->core_->options().render.imageSize;
    const std::string uri = argc > 0 && JSValueIsString(ctx, argv[0]) ? JsValueToUtf8(ctx, argv[0]) : std::string();
    if (!imageSize) {
      state->TryReject(PromiseError{"E_GET_SIZE_FAILURE", "Image.getSize is not available", JSValueObject{}});
    } else if (uri.empty()) {
      state->TryReject(PromiseError{"E_GET_SIZE_FAILURE", "Image.getSize needs a uri", JSValueObject{}});
    } else {
      imageSize(uri, [state, uri](int width, int height, std::string error) {
        if (error.empty()) {
          state->TryResolve(JSValue::array({width, height}));
        } else {
          state->TryReject(PromiseError{"E_GET_SIZE_FAILURE", "Cannot read the size of " + uri + ": " + error,
                                        JSValueObject{}});
        }
      });
    }
    return promise;
  });
}

JSValueRef JsRuntime::NativeModuleProxy(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc,
                                        const JSValueRef argv[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    if (runtime == nullptr || argc < 1 || !JSValueIsString(ctx, argv[0])) return JSValueMakeNull(ctx);
    return runtime->GetModule(JsValueToUtf8(ctx, argv[0]));
  });
}

JSValueRef JsRuntime::NativeRunnerExit(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t argc,
                                       const JSValueRef argv[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    if (runtime == nullptr) return JSValueMakeUndefined(ctx);
    int code = 0;
    if (argc > 0 && JSValueIsNumber(ctx, argv[0])) {
      code = static_cast<int>(Int64FromNumber(JSValueToNumber(ctx, argv[0], nullptr)) & 0xFF);
    }
    fflush(stdout);
    runtime->core_->RequestExit(code);
    runtime->core_->Silence();
    return JSValueMakeUndefined(ctx);
  });
}

JSValueRef JsRuntime::CallModuleMethod(JSContextRef ctx, JSObjectRef function, JSObjectRef, size_t argc,
                                       const JSValueRef argv[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    JsRuntime* runtime = Current();
    auto* binding = static_cast<MethodBinding*>(JSObjectGetPrivate(function));
    if (runtime == nullptr || binding == nullptr) return JSValueMakeUndefined(ctx);
    return runtime->InvokeMethod(*binding, argc, argv);
  });
}

JSValueRef JsRuntime::CallGetConstants(JSContextRef ctx, JSObjectRef function, JSObjectRef, size_t,
                                       const JSValueRef[], JSValueRef* exception) {
  return Guarded(ctx, exception, [&]() -> JSValueRef {
    auto* record = static_cast<ModuleRecord*>(JSObjectGetPrivate(function));
    if (record == nullptr) return JSValueMakeUndefined(ctx);
    return ToJs(ctx, JSValue(record->constants));
  });
}

}  // namespace VirelantDesktop::host
