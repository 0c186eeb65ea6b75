// The web engine library beside the executable.
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/folders.h"
#include "platform/shared_library.h"
#include "platform/web_engine.h"

namespace VirelantDesktop::platform {

std::shared_ptr<WebEngine> LoadWebEngine() {
  static std::mutex mutex;  // guards engine and tried
  static std::shared_ptr<WebEngine> engine;
  static bool tried = false;
  std::lock_guard lock(mutex);
  if (tried) return engine;
  tried = true;
  const auto dir = ExecutableDir();
  if (!dir) return nullptr;
  // Stays loaded for the life of the process (SharedLibrary's rule): the
  // engine's code runs from it until exit.
  const std::string path = *dir + "/libtalvek-webkit.so";
  auto library = SharedLibrary::Load(path);
  if (!library) {
    // Not shipped is a choice; shipped and unloadable (a missing WebKitGTK) is worth a line.
    if (access(path.c_str(), F_OK) == 0) std::fprintf(stderr, "talvek: cannot load %s\n", path.c_str());
    return nullptr;
  }
  auto create = reinterpret_cast<WebEngineEntryPoint>(library->Find(kWebEngineEntryPoint));
  if (create == nullptr) {
    std::fprintf(stderr, "talvek: %s has no %s\n", path.c_str(), kWebEngineEntryPoint);
    return nullptr;
  }
  WebEngine* made = create();
  if (made == nullptr) return nullptr;
  engine = std::shared_ptr<WebEngine>(made, [library](WebEngine* gone) { delete gone; });
  return engine;
}

}  // namespace VirelantDesktop::platform
