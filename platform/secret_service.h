// The per-user secret store (Linux: the Secret Service over D-Bus, through
// libsecret). Each secret is one item of the schema
// "org.talvek.SecureStore" whose attribute "target" names it.
//
// Calls are synchronous and bounded: one that the service does not answer
// within kSecretCallBudgetMs fails with the time-out number. They never open
// a prompt: a locked default collection is a failure, not an unlock dialog.
// Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace VirelantDesktop::platform {

inline constexpr int kSecretCallBudgetMs = 3000;

// Failure numbers, in the Win32 numbering messages use.
inline constexpr uint32_t kSecretNotFound = 1168;      // ERROR_NOT_FOUND
inline constexpr uint32_t kSecretLocked = 1223;        // ERROR_CANCELLED: locked, cancelled, would prompt
inline constexpr uint32_t kSecretNoService = 1312;     // ERROR_NO_SUCH_LOGON_SESSION: no bus or no service
inline constexpr uint32_t kSecretTimedOut = 1460;      // ERROR_TIMEOUT
inline constexpr uint32_t kSecretOtherFailure = 1359;  // ERROR_INTERNAL_ERROR

struct SecretResult {
  uint32_t error = 0;  // 0 on success, else one of the numbers above
  bool ok() const noexcept { return error == 0; }
};

// On success `value` holds the secret's bytes (the caller wipes it).
// A target with no secret fails with kSecretNotFound.
SecretResult LookupSecret(const std::string& target, std::string& value);

// Creates or replaces the secret. `label` is what keyring managers show.
SecretResult StoreSecret(const std::string& target, const std::string& label, std::string_view value);

// Removing a secret that does not exist fails with kSecretNotFound.
SecretResult ClearSecret(const std::string& target);

}  // namespace VirelantDesktop::platform
