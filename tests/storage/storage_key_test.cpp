#include "modules/storage/storage_key.h"

#include <gtest/gtest.h>

#include <string>

namespace VirelantDesktop::storage {
namespace {

TEST(IsValidKey, TheRule) {
  const std::pair<std::string, bool> cases[] = {
      {"a", true},
      {"settings.theme_dark-1", true},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._", true},  // 64 bytes
      {std::string(64, 'k'), true},
      {std::string(65, 'k'), false},
      {"", false},
      {"a b", false},
      {"a/b", false},
      {"a\\b", false},
      {"caf\xC3\xA9", false},  // non-ASCII letter
      {std::string("a\0b", 3), false},
      {"a:b", false},
      {"a+b", false},
  };
  for (const auto& [key, valid] : cases) {
    SCOPED_TRACE(::testing::PrintToString(key));
    EXPECT_EQ(IsValidKey(key), valid);
  }
}

}  // namespace
}  // namespace VirelantDesktop::storage
