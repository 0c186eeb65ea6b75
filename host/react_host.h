// The host of the JavaScript bundle: the counterpart of the framework's
// app, host and instance settings.
//
//   ReactHost host(options);
//   host.InstanceSettings().PackageProviders.push_back(...);
//   host.InstanceSettings().BundleRootPath = "file://" + dir + "/Bundle/";
//   host.InstanceSettings().JavaScriptBundleFile = "index.windows";
//   host.ViewOptions().ComponentName = "VirelantDesktop";
//   int code = host.Start();   // runs the UI loop on this thread until quit
//
// Start() runs the calling thread's default GLib main context as the UI
// loop; the JS thread is started inside it and stopped before it returns.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "bridge/view_component.h"
#include "host/instance_settings.h"

namespace VirelantDesktop::host {

class HostCore;
struct PackageRegistry;

class ReactHost {
 public:
  explicit ReactHost(HostOptions options = {});
  ~ReactHost();
  ReactHost(const ReactHost&) = delete;
  ReactHost& operator=(const ReactHost&) = delete;

  host::InstanceSettings& InstanceSettings() noexcept { return settings_; }
  ReactViewOptions& ViewOptions() noexcept { return viewOptions_; }
  // The host options; change them only before Start().
  HostOptions& Options() noexcept { return options_; }

  // Loads the bundle, starts the root component and runs the UI loop until
  // Quit(), the runner's exit, idleness (exitWhenIdle) or the time-out.
  // Returns the exit code. Call once, on the thread that owns the default
  // main context.
  int Start();

  // Ends Start() with `code`. Any thread, before or during Start().
  void Quit(int code = kExitOk) noexcept;

  // The display changed (window size or scale, colour scheme, direction):
  // the bundle's surfaces are laid out again. Any thread; before Start() it
  // becomes the display the bundle starts with.
  void UpdateDisplay(const DisplayEnvironment& display);
  // An event of a mounted view (a touch, a load): handed to the renderer's
  // event handler on the JS thread. Any thread; dropped unless running.
  void DispatchViewEvent(render::Tag tag, std::string type, JSValue payload);

  // The view components the packages configure (their providers run once,
  // on the first call or in Start(); add package providers before that).
  ViewComponentMap ViewComponents();

  // The bundle file named by the settings: the root path without "file://",
  // then the file name.
  std::string BundlePath() const;

 private:
  std::shared_ptr<const PackageRegistry> Packages();

  HostOptions options_;
  host::InstanceSettings settings_;
  ReactViewOptions viewOptions_;
  std::mutex coreMutex_;  // guards core_, options_.display, quitEarly_ and quitEarlyCode_ (Quit runs on any thread)
  std::shared_ptr<HostCore> core_;
  bool quitEarly_ = false;
  int quitEarlyCode_ = kExitOk;
  std::mutex packagesMutex_;  // guards packages_
  std::shared_ptr<const PackageRegistry> packages_;
};

}  // namespace VirelantDesktop::host
