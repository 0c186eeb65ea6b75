// The JavaScript engine of one host and everything that touches it: the
// global context, the prelude globals, native module objects, pending
// promises, timers, events and error reports.
//
// Lives on the JS thread, which creates it after pushing its GMainContext as
// thread-default (the engine's idle garbage collection runs on timers of
// that context) and destroys it there. Other threads reach it only by
// posting tasks to the host's JS queue; a task finds it with Current().
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bridge/module_builder.h"
#include "bridge/promise_error.h"
#include "bridge/react_context.h"
#include "bridge/view_component.h"
#include "host/fabric_ui_manager.h"
#include "host/host_core.h"

namespace VirelantDesktop::host {

// The modules and view components the package providers offered.
struct PackageRegistry {
  std::map<std::string, ModuleProvider> modules;
  ViewComponentMap viewComponents;  // configured by their providers
};

class JsRuntime {
 public:
  JsRuntime(std::shared_ptr<HostCore> core, std::shared_ptr<const PackageRegistry> packages);
  ~JsRuntime();
  JsRuntime(const JsRuntime&) = delete;
  JsRuntime& operator=(const JsRuntime&) = delete;

  // The runtime of the calling thread; null off the JS thread or once
  // shutting down.
  static JsRuntime* Current() noexcept;

  // Loads and runs the bundle, then starts `componentName`. A bundle that
  // cannot be read or parsed is reported and ends the host with exit code 1.
  void RunBundle(const std::string& path, const std::string& componentName);

  // Evaluates `source`; an exception is reported as uncaught. True if none.
  bool Evaluate(const std::string& source, const std::string& sourceUrl);

  // Settles pending promise `id` (from a PromiseSink, via the JS queue).
  void SettlePromise(uint64_t id, bool resolved, const JSValue& value, const PromiseError& error);
  // Calls emitter.emit(eventName, payload) on the global `emitterName`.
  void EmitEvent(const std::string& emitterName, const std::string& eventName, const JSValue& payload);

  // The display changed (window size, scale, colour scheme): the surfaces
  // are laid out again and the bundle hears "didUpdateDimensions" and
  // "appearanceChanged" where they changed.
  void UpdateDisplay(const DisplayEnvironment& display);
  // An event of a mounted view, from the UI thread.
  void DispatchViewEvent(render::Tag tag, const std::string& type, const JSValue& payload);
  FabricUIManager* fabric() noexcept { return fabric_.get(); }

  // Prints "<prefix> <description>" on stderr and records a script error.
  void ReportException(JSValueRef exception, const char* prefix = "Uncaught");

  JSGlobalContextRef context() const noexcept { return ctx_; }

 private:
  struct ModuleRecord;
  struct MethodBinding {
    ModuleRecord* module;
    const MethodInfo* method;
  };
  struct ModuleRecord {
    ModuleBuilder builder;
    std::shared_ptr<void> object;
    JSValueObject constants;
    JSObjectRef jsObject = nullptr;  // protected
    std::vector<std::unique_ptr<MethodBinding>> bindings;
  };
  struct PendingPromise {
    JSObjectRef resolve;  // protected
    JSObjectRef reject;   // protected
  };
  struct Timer {
    JSObjectRef callback;  // protected
    JSObjectRef args;      // protected array
    bool repeat;
    GSource* source;
    KeepAliveToken hold;
  };

  void InstallGlobals();
  JSObjectRef MakeFunction(const char* name, JSObjectCallAsFunctionCallback callback);
  // A callable object of `cls` that behaves as a function: Function.prototype
  // and a "name".
  JSObjectRef MakeNativeFunction(JSClassRef cls, void* data, const std::string& name);

  JSValueRef GetModule(const std::string& name);
  JSValueRef InvokeMethod(const MethodBinding& binding, size_t argc, const JSValueRef argv[]);
  JSObjectRef MakeRejectionError(const PromiseError& error);

  double AddTimer(JSObjectRef callback, double delayMs, bool repeat, JSObjectRef args);
  void ClearTimer(double id);
  bool FireTimer(uint64_t id);  // false when the timer is done
  void CallGuarded(JSObjectRef function, JSObjectRef thisObject, size_t argc, const JSValueRef argv[]);
  std::string Describe(JSValueRef value);

  static JSValueRef NativeWrite(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);
  static JSValueRef NativeReportError(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                      JSValueRef*);
  static JSValueRef NativeSetTimer(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);
  static JSValueRef NativeClearTimer(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                     JSValueRef*);
  static JSValueRef NativeModuleProxy(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                      JSValueRef*);
  static JSValueRef NativeUnhandledRejection(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                             JSValueRef*);
  static JSValueRef NativeRunnerExit(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                     JSValueRef*);
  static JSValueRef CallModuleMethod(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                     JSValueRef*);
  static JSValueRef CallGetConstants(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                     JSValueRef*);
  static gboolean OnTimer(gpointer data);
  static JSValueRef NativeEnvironment(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                     JSValueRef*);
  static JSValueRef NativeNow(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);
  static JSValueRef NativeBundleUrl(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);
  static JSValueRef NativeNoteError(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);
  static JSValueRef NativeImageSize(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);
  static JSValueRef NativeViewComponent(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                                        JSValueRef*);
  JSValue EnvironmentJson() const;

  std::shared_ptr<HostCore> core_;
  std::shared_ptr<const PackageRegistry> packages_;
  ReactContext reactContext_;

  JSContextGroupRef group_ = nullptr;
  JSGlobalContextRef ctx_ = nullptr;
  JSClassRef methodClass_ = nullptr;
  JSClassRef constantsClass_ = nullptr;
  JSObjectRef describeError_ = nullptr;   // protected, from the prelude
  JSObjectRef startComponent_ = nullptr;  // protected, from the prelude
  JSObjectRef functionPrototype_ = nullptr;  // protected; native methods inherit call, apply, bind

  std::unique_ptr<FabricUIManager> fabric_;
  DisplayEnvironment display_;
  std::string bundlePath_;

  // JS thread only, so no locks.
  std::map<std::string, std::unique_ptr<ModuleRecord>> modules_;
  std::unordered_map<uint64_t, PendingPromise> promises_;
  uint64_t nextPromiseId_ = 1;
  std::unordered_map<uint64_t, Timer> timers_;
  uint64_t nextTimerId_ = 1;
};

}  // namespace VirelantDesktop::host
