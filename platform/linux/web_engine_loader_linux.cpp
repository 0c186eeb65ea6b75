// The web engine library beside the executable.
#include <cstdio>
#include <mutex>

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
  auto library = SharedLibrary::Load(*dir + "/libtalvek-webkit.so");
  if (!library) return nullptr;
  auto create = reinterpret_cast<WebEngineEntryPoint>(library->Find(kWebEngineEntryPoint));
  if (create == nullptr) return nullptr;
  WebEngine* made = create();
  if (made == nullptr) return nullptr;
  engine = std::shared_ptr<WebEngine>(made, [library](WebEngine* gone) { delete gone; });
  return engine;
}

}  // namespace VirelantDesktop::platform
