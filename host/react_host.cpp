#include "host/react_host.h"

#include <atomic>
#include <thread>

#include "host/host_core.h"
#include "host/js_runtime.h"
#include "platform/process_setup.h"

namespace VirelantDesktop::host {
namespace {

class RegistryBuilder final : public IReactPackageBuilder, public IReactPackageBuilderFabric {
 public:
  explicit RegistryBuilder(PackageRegistry& registry) : registry_(registry) {}

  void AddTurboModule(const std::string& name, ModuleProvider provider) override {
    registry_.modules[name] = std::move(provider);
  }
  void AddViewComponent(const std::string& name, ViewComponentProvider provider) override {
    registry_.viewComponents[name] = DescribeViewComponent(name, provider);
  }

 private:
  PackageRegistry& registry_;
};

constexpr std::string_view kFileScheme = "file://";

}  // namespace

ReactHost::ReactHost(HostOptions options) : options_(std::move(options)) {}

ReactHost::~ReactHost() = default;

std::string ReactHost::BundlePath() const {
  std::string root = settings_.BundleRootPath;
  if (root.compare(0, kFileScheme.size(), kFileScheme) == 0) root.erase(0, kFileScheme.size());
  if (!root.empty() && root.back() != '/') root.push_back('/');
  return root + settings_.JavaScriptBundleFile;
}

void ReactHost::Quit(int code) noexcept {
  std::lock_guard lock(coreMutex_);
  if (core_) {
    core_->RequestExit(code);
  } else {
    quitEarly_ = true;
    quitEarlyCode_ = code;
  }
}

void ReactHost::UpdateDisplay(const DisplayEnvironment& display) {
  std::lock_guard lock(coreMutex_);
  if (!core_) {
    options_.display = display;  // the bundle starts with it
    return;
  }
  core_->PostJs([display] {
    if (auto* runtime = JsRuntime::Current()) runtime->UpdateDisplay(display);
  });
}

void ReactHost::DispatchViewEvent(render::Tag tag, std::string type, JSValue payload) {
  std::lock_guard lock(coreMutex_);
  if (!core_) return;
  core_->PostJs([tag, type = std::move(type), payload = std::move(payload)] {
    if (auto* runtime = JsRuntime::Current()) runtime->DispatchViewEvent(tag, type, payload);
  });
}

std::shared_ptr<const PackageRegistry> ReactHost::Packages() {
  std::lock_guard lock(packagesMutex_);
  if (!packages_) {
    auto packages = std::make_shared<PackageRegistry>();
    RegistryBuilder builder(*packages);
    for (const auto& provider : settings_.PackageProviders) {
      if (provider) provider->CreatePackage(builder);
    }
    packages_ = std::move(packages);
  }
  return packages_;
}

ViewComponentMap ReactHost::ViewComponents() { return Packages()->viewComponents; }

int ReactHost::Start() {
  std::shared_ptr<const PackageRegistry> packages = Packages();

  GMainContext* uiContext = g_main_context_default();
  GMainContext* jsContext = g_main_context_new();
  HostOptions options;
  {
    std::lock_guard lock(coreMutex_);
    options = options_;
  }
  std::shared_ptr<HostCore> core = HostCore::Create(options, uiContext, jsContext);
  {
    std::lock_guard lock(coreMutex_);
    core_ = core;
    if (quitEarly_) core->RequestExit(quitEarlyCode_);
    quitEarly_ = false;
  }

  const std::string bundlePath = BundlePath();
  const std::string component = viewOptions_.ComponentName;
  core->PostJs([bundlePath, component] {
    if (auto* runtime = JsRuntime::Current()) runtime->RunBundle(bundlePath, component);
  });

  std::atomic<bool> stopJs{false};
  std::thread jsThread([core, packages, jsContext, &stopJs] {
    // The engine's garbage-collection timers attach to the thread-default
    // context current when its context group is made.
    platform::NameCurrentThread("talvek-js");
    g_main_context_push_thread_default(jsContext);
    {
      JsRuntime runtime(core, packages);
      while (!stopJs.load(std::memory_order_acquire)) g_main_context_iteration(jsContext, TRUE);
    }
    g_main_context_pop_thread_default(jsContext);
  });

  GSource* timeout = nullptr;
  if (options_.timeoutMs > 0) {
    timeout = g_timeout_source_new(static_cast<guint>(options_.timeoutMs));
    g_source_set_callback(
        timeout,
        [](gpointer data) -> gboolean {
          auto* host = static_cast<HostCore*>(data);
          host->Write(ConsoleStream::Err, "talvek: timed out after " + std::to_string(host->options().timeoutMs) + " ms");
          host->RequestExit(kExitTimeout);
          return G_SOURCE_REMOVE;
        },
        core.get(), nullptr);
    g_source_attach(timeout, uiContext);
  }

  core->liveness().Arm();
  while (!core->ExitRequested()) g_main_context_iteration(uiContext, TRUE);

  if (timeout != nullptr) {
    g_source_destroy(timeout);
    g_source_unref(timeout);
  }
  stopJs.store(true, std::memory_order_release);
  g_main_context_wakeup(jsContext);
  jsThread.join();
  core->uiQueue().Close();
  g_main_context_unref(jsContext);

  const int code = core->ExitCode();
  std::lock_guard lock(coreMutex_);
  core_.reset();
  return code;
}

}  // namespace VirelantDesktop::host
