#include "platform/shared_library.h"

#include <dlfcn.h>

namespace VirelantDesktop::platform {

std::shared_ptr<SharedLibrary> SharedLibrary::Load(const std::string& absolutePath) {
  // A name without "/" would send dlopen through the library search.
  if (absolutePath.empty() || absolutePath.front() != '/') return nullptr;
  void* handle = dlopen(absolutePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  // Never dlclose: callbacks into the library may still be installed.
  return std::shared_ptr<SharedLibrary>(new SharedLibrary(handle, absolutePath));
}

void* SharedLibrary::Find(const char* name) const noexcept {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return dlsym(handle_, name);
}

}  // namespace VirelantDesktop::platform
