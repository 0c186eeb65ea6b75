// The `AuthLoopback` module: browser sign-in with a loopback redirect and
// PKCE. "start" opens one flow (cancelling the previous one), "result" waits
// for its outcome, "cancel" ends it.
#pragma once

#include <cstdint>

#include "bridge/module_table.h"
#include "modules/auth/loopback_http.h"

namespace VirelantDesktop {

class AuthLoopback {
 public:
  static void Describe(ModuleTable<AuthLoopback>& table);
  ~AuthLoopback();

  void start(JSValue options, ReactPromise<JSValue> promise) noexcept;
  void result(int64_t flowId, ReactPromise<JSValue> promise) noexcept;
  void cancel(ReactPromise<bool> promise) noexcept;
};

namespace authloop {

// The JavaScript result object of an outcome.
JSValue ResultObject(const authlb::Outcome& outcome);

}  // namespace authloop
}  // namespace VirelantDesktop
