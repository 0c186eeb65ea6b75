// talvek-run BUNDLE [--timeout-ms N]
//
// Runs a bundle on the shell's host and modules without window, tray or
// single instance. Exit code: the one given to __talvekRun.exit(code); when
// nothing is pending any more, 1 if an uncaught error or unhandled rejection
// happened, else 0; 124 at the time-out (default 60 s); 2 for bad usage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bridge/package_provider.h"
#include "host/react_host.h"
#include "platform/process_setup.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kDefaultTimeoutMs = 60000;

int Usage(const char* problem) {
  std::fprintf(stderr, "talvek-run: %s\nusage: talvek-run BUNDLE [--timeout-ms N]\n", problem);
  return kExitUsage;
}

bool ParseTimeout(const char* text, int& out) {
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value <= 0 || value > 24L * 3600 * 1000) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  VirelantDesktop::platform::InitProcess();
  std::string bundle;
  int timeoutMs = kDefaultTimeoutMs;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--timeout-ms") {
      if (i + 1 >= argc || !ParseTimeout(argv[++i], timeoutMs)) return Usage("--timeout-ms needs a positive number");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + std::string(arg)).c_str());
    } else if (bundle.empty()) {
      bundle = arg;
    } else {
      return Usage("more than one bundle given");
    }
  }
  if (bundle.empty()) return Usage("no bundle given");

  std::string folder = ".";
  std::string file = bundle;
  if (auto slash = bundle.rfind('/'); slash != std::string::npos) {
    folder = slash == 0 ? "/" : bundle.substr(0, slash);
    file = bundle.substr(slash + 1);
  }

  VirelantDesktop::host::HostOptions options;
  options.exitWhenIdle = true;
  options.timeoutMs = timeoutMs;
  options.runnerApi = true;
  options.componentRequired = false;  // test bundles need not register one

  VirelantDesktop::host::ReactHost host(options);
  host.InstanceSettings().BundleRootPath = "file://" + folder + "/";
  host.InstanceSettings().JavaScriptBundleFile = file;
  host.InstanceSettings().PackageProviders.push_back(std::make_shared<VirelantDesktop::CompReactPackageProvider>());
  host.ViewOptions().ComponentName = "VirelantDesktop";
  const int code = host.Start();
  std::fflush(stdout);
  std::fflush(stderr);
  return code;
}
