// The secure store against a real Secret Service: this suite runs under
// scripts/with-keyring.sh (a private bus and keyring for each test).
#include "modules/storage/secure_store_module.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/storage/secure_store_expect.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

using testing::ModuleUnderTest;

class SecureStoreTest : public ::testing::Test {
 protected:
  JSValue Get(const std::string& key) {
    auto probe = store_.Call("get", {key});
    EXPECT_TRUE(probe->IsResolved()) << probe->Error().code << " " << probe->Error().message;
    return probe->Value();
  }
  void Set(const std::string& key, const std::string& value) {
    auto probe = store_.Call("set", {key, value});
    ASSERT_TRUE(probe->IsResolved()) << probe->Error().code << " " << probe->Error().message;
    EXPECT_EQ(probe->Value(), JSValue(true));
  }
  PromiseError Rejection(const std::string& method, const std::vector<JSValue>& args) {
    auto probe = store_.Call(method, args);
    EXPECT_TRUE(probe->IsRejected()) << method;
    return probe->Error();
  }

  ModuleUnderTest store_{"SecureStore"};
};

TEST_F(SecureStoreTest, RoundTrip) {
  EXPECT_EQ(Get("token"), JSValue(nullptr));
  Set("token", "s\xC3\xAB" "cret");
  EXPECT_EQ(Get("token"), JSValue("s\xC3\xAB" "cret"));
  Set("token", "replaced");
  EXPECT_EQ(Get("token"), JSValue("replaced"));
  EXPECT_EQ(store_.Call("remove", {"token"})->Value(), JSValue(true));
  EXPECT_EQ(Get("token"), JSValue(nullptr));
  EXPECT_EQ(store_.Call("remove", {"token"})->Value(), JSValue(true)) << "removing nothing succeeds";
}

TEST_F(SecureStoreTest, KeysAreCaseSensitiveAndSeparate) {
  Set("Token", "upper");
  Set("token", "lower");
  EXPECT_EQ(Get("Token"), JSValue("upper"));
  EXPECT_EQ(Get("token"), JSValue("lower"));
}

TEST_F(SecureStoreTest, EmptyValue_ReadsBackEmptyNotNull) {
  Set("empty", "");
  EXPECT_EQ(Get("empty"), JSValue(""));
}

TEST_F(SecureStoreTest, ValueLimitIsCountedInBytes) {
  std::string largest;
  for (int i = 0; i < 2560; ++i) largest.push_back(static_cast<char>(0x20 + (i * 7) % 95));
  Set("big", largest);
  EXPECT_EQ(Get("big"), JSValue(largest)) << "byte for byte";

  EXPECT_EQ(Rejection("set", {"big", largest + "x"}).code, "value_too_large");
  EXPECT_EQ(Get("big"), JSValue(largest)) << "the earlier value stays";

  std::string accents;
  for (int i = 0; i < 1280; ++i) accents += "\xC3\xA9";  // 1280 characters, 2560 bytes
  Set("accents", accents);
  EXPECT_EQ(Get("accents"), JSValue(accents));
  const PromiseError tooLarge = Rejection("set", {"accents", accents + "\xC3\xA9"});
  EXPECT_EQ(tooLarge.code, "value_too_large");
  EXPECT_EQ(tooLarge.message, "value_too_large");
}

TEST_F(SecureStoreTest, InvalidKeys_AreRefusedFirst) {
  for (const std::string& key : {std::string(), std::string(65, 'a'), std::string("a/b")}) {
    SCOPED_TRACE(key);
    for (const auto& [method, args] : std::vector<std::pair<std::string, std::vector<JSValue>>>{
             {"get", {key}}, {"set", {key, "v"}}, {"remove", {key}}}) {
      const PromiseError error = Rejection(method, args);
      EXPECT_EQ(error.code, "invalid_key") << method;
      EXPECT_EQ(error.message, "invalid_key") << method;
    }
  }
  // An invalid key wins over a too-large value.
  EXPECT_EQ(Rejection("set", {"a b", std::string(3000, 'x')}).code, "invalid_key");
  Set(std::string(64, 'k'), "longest key");
  EXPECT_EQ(Get(std::string(64, 'k')), JSValue("longest key"));
}

}  // namespace
}  // namespace VirelantDesktop

namespace VirelantDesktop {
namespace {

// Runs in its own keyring (a ctest entry of its own): it locks the default
// collection, which cannot be unlocked again without a prompt.
TEST(SecureStoreLocked, FailsAtOnceWithoutPrompting) {
  ASSERT_EQ(std::system("gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
                        "--method org.freedesktop.Secret.Service.Lock "
                        "\"[objectpath '/org/freedesktop/secrets/aliases/default']\" >/dev/null"),
            0);
  testing::ModuleUnderTest store("SecureStore");
  const auto start = std::chrono::steady_clock::now();
  testing::ExpectEveryCallFailsWith(store, "credman error 1223");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace VirelantDesktop
