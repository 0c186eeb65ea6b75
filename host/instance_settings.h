// What the program tells the host before Start(): the bundle, the package
// providers and the root component, plus host options of our own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/package_provider.h"
#include "host/render_options.h"

namespace VirelantDesktop::host {

struct InstanceSettings {
  // "file://" + folder + "/"; the bundle file is looked up inside it.
  std::string BundleRootPath;
  std::string JavaScriptBundleFile;
  // Developer switches: accepted for parity, no effect in this host.
  bool UseFastRefresh = false;
  bool UseDirectDebugger = false;
  bool UseDeveloperSupport = false;
  std::vector<std::shared_ptr<IReactPackageProvider>> PackageProviders;
};

struct ReactViewOptions {
  std::string ComponentName;
};

enum class ConsoleStream { Out = 1, Err = 2 };
// Receives one line of console or diagnostic text (without its newline).
// Called on the JS thread, and on the UI thread for the host's own messages.
using OutputSink = std::function<void(ConsoleStream stream, std::string_view line)>;

struct HostOptions {
  // The dev runner: Start() returns once nothing is pending (exit code 1 if
  // an uncaught error or unhandled rejection happened, else 0).
  bool exitWhenIdle = false;
  // 0: none; otherwise Start() returns 124 after this many milliseconds.
  int timeoutMs = 0;
  // Offer globalThis.__talvekRun.exit(code).
  bool runnerApi = false;
  // Report an unregistered root component as an error.
  bool componentRequired = true;
  // Default: stdout / stderr, flushed line by line.
  OutputSink output;
  // Rendering: the mount sink, text measurement, native components.
  RenderOptions render;
  // The display the bundle starts with (later changes: ReactHost::UpdateDisplay).
  DisplayEnvironment display;
};

// Exit codes Start() returns.
inline constexpr int kExitOk = 0;
inline constexpr int kExitScriptError = 1;   // uncaught error, unhandled rejection, bundle unreadable
inline constexpr int kExitTimeout = 124;

}  // namespace VirelantDesktop::host
