// The `SecureStore` module: small secrets in the per-user secret store, one
// item per key named "TALVEK/" + key (platform/secret_service.h).
#pragma once

#include <string>

#include "bridge/module_table.h"

namespace VirelantDesktop {

class SecureStore {
 public:
  static void Describe(ModuleTable<SecureStore>& table);

  void get(std::string key, ReactPromise<JSValue> promise) noexcept;
  void set(std::string key, std::string value, ReactPromise<bool> promise) noexcept;
  void remove(std::string key, ReactPromise<bool> promise) noexcept;
};

namespace securestore {

inline constexpr const char* kTargetPrefix = "TALVEK/";
// The largest value, in bytes (the largest credential blob Windows keeps, 5 x 512).
inline constexpr size_t kMaxValueBytes = 2560;

// "credman error " + the failure number in unsigned decimal.
std::string FailureMessage(uint32_t number);

}  // namespace securestore
}  // namespace VirelantDesktop
