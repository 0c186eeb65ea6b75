#include "platform/secure_zero.h"

#include <gtest/gtest.h>

#include <string>

namespace VirelantDesktop::platform {
namespace {

TEST(SecureWipe, ZeroesTheWholeBufferAndEmpties) {
  std::string secret(100, 'x');
  secret.resize(10);  // the bytes past the size held the secret too
  const char* buffer = secret.data();
  const size_t capacity = secret.capacity();
  SecureWipe(secret);
  EXPECT_TRUE(secret.empty());
  ASSERT_EQ(secret.data(), buffer) << "wiped in place, not reallocated";
  for (size_t i = 0; i < capacity; ++i) ASSERT_EQ(buffer[i], '\0') << i;
}

}  // namespace
}  // namespace VirelantDesktop::platform
