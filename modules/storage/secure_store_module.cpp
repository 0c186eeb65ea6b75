#include "modules/storage/secure_store_module.h"

#include "bridge/module_registration.h"
#include "modules/storage/storage_key.h"
#include "platform/secret_service.h"
#include "platform/secure_zero.h"

namespace VirelantDesktop {
namespace securestore {

std::string FailureMessage(uint32_t number) { return "credman error " + std::to_string(number); }

}  // namespace securestore

namespace {

constexpr const char* kFailedCode = "secure_store_failed";

void RejectFailure(const ReactPromise<bool>& promise, uint32_t number) noexcept {
  promise.Reject(kFailedCode, securestore::FailureMessage(number));
}

}  // namespace

void SecureStore::Describe(ModuleTable<SecureStore>& table) {
  table.Method("get", &SecureStore::get);
  table.Method("set", &SecureStore::set);
  table.Method("remove", &SecureStore::remove);
}

void SecureStore::get(std::string key, ReactPromise<JSValue> promise) noexcept {
  if (!storage::IsValidKey(key)) {
    promise.Reject("invalid_key");
    return;
  }
  std::string value;
  try {
    const platform::SecretResult result = platform::LookupSecret(securestore::kTargetPrefix + key, value);
    if (result.ok()) {
      promise.Resolve(JSValue(value));
    } else if (result.error == platform::kSecretNotFound) {
      promise.Resolve(nullptr);
    } else {
      promise.Reject(kFailedCode, securestore::FailureMessage(result.error));
    }
  } catch (...) {
    promise.Reject(kFailedCode, securestore::FailureMessage(platform::kSecretOtherFailure));
  }
  platform::SecureWipe(value);
}

void SecureStore::set(std::string key, std::string value, ReactPromise<bool> promise) noexcept {
  if (!storage::IsValidKey(key)) {
    promise.Reject("invalid_key");
  } else if (value.size() > securestore::kMaxValueBytes) {
    promise.Reject("value_too_large");
  } else {
    try {
      const platform::SecretResult result =
          platform::StoreSecret(securestore::kTargetPrefix + key, securestore::kTargetPrefix + key, value);
      if (result.ok()) {
        promise.Resolve(true);
      } else {
        RejectFailure(promise, result.error);
      }
    } catch (...) {
      RejectFailure(promise, platform::kSecretOtherFailure);
    }
  }
  platform::SecureWipe(value);
}

void SecureStore::remove(std::string key, ReactPromise<bool> promise) noexcept {
  if (!storage::IsValidKey(key)) {
    promise.Reject("invalid_key");
    return;
  }
  try {
    const platform::SecretResult result = platform::ClearSecret(securestore::kTargetPrefix + key);
    if (result.ok() || result.error == platform::kSecretNotFound) {
      promise.Resolve(true);
    } else {
      RejectFailure(promise, result.error);
    }
  } catch (...) {
    RejectFailure(promise, platform::kSecretOtherFailure);
  }
}

TALVEK_REGISTER_MODULE(SecureStore, "SecureStore");

}  // namespace VirelantDesktop
