// The rejection payload of a module promise and the object JavaScript sees.
#pragma once

#include <string>

#include "bridge/js_value.h"

namespace VirelantDesktop {

// A module rejects with a short snake_case code and either the code itself or
// a human-readable message. Modules always pass an empty `userInfo` object;
// only a promise destroyed while pending carries null there.
struct PromiseError {
  std::string code;
  std::string message;
  JSValue userInfo = JSValueObject{};
};

inline constexpr const char* kUnspecifiedCode = "EUNSPECIFIED";
inline constexpr const char* kUnspecifiedMessage = "Error not specified.";
inline constexpr const char* kPromiseDestroyedMessage = "Promise destroyed.";

// The rejection object: exactly "code", "message", "userInfo", in that order,
// with the defaults for an empty code or message.
JSValue MakeRejectionObject(const PromiseError& error);

// Fills in the defaults for an empty code or message.
PromiseError NormalizeRejection(PromiseError error);

}  // namespace VirelantDesktop
