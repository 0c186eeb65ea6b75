// The secure store with no Secret Service reachable: every call that needs
// the service fails with "credman error 1312", quickly; checks that need no
// service still answer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>

#include "modules/storage/secure_store_module.h"
#include "tests/storage/secure_store_expect.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

TEST(SecureStoreWithoutService, FailsWithItsNumber) {
  // No bus at this address; set before the process first talks to D-Bus.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/talvek-no-bus", 1);
  testing::ModuleUnderTest store("SecureStore");
  const auto start = std::chrono::steady_clock::now();
  testing::ExpectEveryCallFailsWith(store, "credman error 1312");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "no service is no wait";
  EXPECT_EQ(store.Call("set", {"token", std::string(2561, 'x')})->Error().code, "value_too_large");
  EXPECT_EQ(store.Call("get", {"a/b"})->Error().code, "invalid_key");
}

TEST(SecureStoreMessages, NumberInUnsignedDecimal) {
  EXPECT_EQ(securestore::FailureMessage(5), "credman error 5");
  EXPECT_EQ(securestore::FailureMessage(1168), "credman error 1168");
  EXPECT_EQ(securestore::FailureMessage(4294967295u), "credman error 4294967295");
}

}  // namespace
}  // namespace VirelantDesktop
