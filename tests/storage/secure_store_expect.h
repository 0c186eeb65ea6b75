// Shared check of the secure store suites: every method that reaches the
// Secret Service fails with "secure_store_failed" and `message`.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_invoker.h"

namespace VirelantDesktop::testing {

inline void ExpectEveryCallFailsWith(ModuleUnderTest& store, const std::string& message) {
  for (const auto& [method, args] : std::vector<std::pair<std::string, std::vector<JSValue>>>{
           {"get", {"token"}}, {"set", {"token", "v"}}, {"remove", {"token"}}}) {
    auto probe = store.Call(method, args);
    ASSERT_TRUE(probe->IsRejected()) << method;
    EXPECT_EQ(probe->Error().code, "secure_store_failed") << method;
    EXPECT_EQ(probe->Error().message, message) << method;
  }
}

}  // namespace VirelantDesktop::testing
