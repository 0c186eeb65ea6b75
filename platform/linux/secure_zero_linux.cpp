#include "platform/secure_zero.h"

#include <string.h>

namespace VirelantDesktop::platform {

void SecureZero(void* data, size_t size) noexcept {
  if (data != nullptr && size > 0) explicit_bzero(data, size);
}

void SecureWipe(std::string& secret) noexcept {
  // Zero up to the capacity: a shorter string may have held a longer one.
  secret.resize(secret.capacity());
  SecureZero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace VirelantDesktop::platform
