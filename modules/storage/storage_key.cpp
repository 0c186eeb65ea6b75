#include "modules/storage/storage_key.h"

namespace VirelantDesktop::storage {

bool IsValidKey(std::string_view key) noexcept {
  if (key.empty() || key.size() > kMaxKeyBytes) return false;
  for (char c : key) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace VirelantDesktop::storage
