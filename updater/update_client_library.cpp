#include "updater/update_client_library.h"

#include <algorithm>
#include <vector>

#include "platform/folders.h"

namespace TalvekUpdater {

std::shared_ptr<const UpdateClientLibrary> UpdateClientLibrary::Load(const std::string& absolutePath) {
  auto library = VirelantDesktop::platform::SharedLibrary::Load(absolutePath);
  if (!library) return nullptr;
  return std::make_shared<const UpdateClientLibrary>(std::move(library));
}

void* UpdateClientLibrary::Symbol(const char* name) const {
  std::lock_guard lock(mutex_);
  const auto found = symbols_.find(name);
  if (found != symbols_.end()) return found->second;
  void* address = library_->Find(name);
  symbols_.emplace(name, address);
  return address;
}

std::string UpdateClientLibrary::LastError() const {
  const auto getLastError = TUC_FUNCTION(*this, tuc_get_last_error);
  if (getLastError == nullptr) return "";
  const size_t length = getLastError(nullptr, 0);
  if (length == 0) return "";
  std::vector<char> buffer(length + 1, '\0');
  const size_t copied = getLastError(buffer.data(), buffer.size());
  return std::string(buffer.data(), std::min(copied, length));
}

std::shared_ptr<const UpdateClientLibrary> ProcessUpdateClient() {
  static const std::shared_ptr<const UpdateClientLibrary> library = [] {
    const auto dir = VirelantDesktop::platform::ExecutableDir();
    return dir ? UpdateClientLibrary::Load(*dir + "/" + TUC_LIBRARY_FILE) : nullptr;
  }();
  return library;
}

}  // namespace TalvekUpdater
