#include "modules/storage/kv_module.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

using testing::ModuleUnderTest;
namespace fs = std::filesystem;

class KvModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* data = getenv("XDG_DATA_HOME");
    savedData_ = data ? data : "";
    setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
  }
  void TearDown() override { setenv("XDG_DATA_HOME", savedData_.c_str(), 1); }
  std::string StorePath() const { return dir_.Join("TALVEK/desktop/kv.json"); }

  testing::TempDir dir_;
  std::string savedData_;
  ModuleUnderTest kv_{"KV"};
};

TEST_F(KvModuleTest, SetGetRemove) {
  EXPECT_EQ(kv_.Call("get", {"theme"})->Value(), JSValue(nullptr));
  auto set = kv_.Call("set", {"theme", "dark \xF0\x9F\x8C\x99"});
  ASSERT_TRUE(set->IsResolved());
  EXPECT_EQ(set->Value(), JSValue(true));
  EXPECT_EQ(kv_.Call("get", {"theme"})->Value(), JSValue("dark \xF0\x9F\x8C\x99"));
  EXPECT_EQ(kv_.Call("remove", {"theme"})->Value(), JSValue(true));
  EXPECT_EQ(kv_.Call("remove", {"theme"})->Value(), JSValue(true));
  EXPECT_EQ(kv_.Call("get", {"theme"})->Value(), JSValue(nullptr));
}

TEST_F(KvModuleTest, InvalidKeys_AreRefusedByAllThreeBeforeAnyIo) {
  const JSValue badKeys[] = {"", std::string(65, 'a'), "a/b", "a b", "caf\xC3\xA9", 5, nullptr};
  for (const JSValue& key : badKeys) {
    SCOPED_TRACE(key.dump());
    for (const auto& [method, args] : std::vector<std::pair<std::string, std::vector<JSValue>>>{
             {"get", {key}}, {"set", {key, "v"}}, {"remove", {key}}}) {
      auto probe = kv_.Call(method, args);
      ASSERT_TRUE(probe->IsRejected()) << method;
      EXPECT_EQ(probe->Error().code, "invalid_key");
      EXPECT_EQ(probe->Error().message, "invalid_key");
    }
  }
  EXPECT_FALSE(fs::exists(dir_.Join("TALVEK")));
  EXPECT_TRUE(kv_.Call("set", {std::string(64, 'a'), "v"})->IsResolved());
}

TEST_F(KvModuleTest, Failures_RejectKvFailed) {
  ASSERT_TRUE(kv_.Call("set", {"n", "1"})->IsResolved());
  testing::WriteTextFile(StorePath(), "{\"n\":1}");
  auto get = kv_.Call("get", {"n"});
  ASSERT_TRUE(get->IsRejected());
  EXPECT_EQ(get->Error().code, "kv_failed");
  EXPECT_EQ(get->Error().message, "kv_failed");

  fs::remove(StorePath());
  fs::create_directories(StorePath());
  auto set = kv_.Call("set", {"k", "v"});
  ASSERT_TRUE(set->IsRejected());
  EXPECT_EQ(set->Error().code, "kv_failed");
}

TEST_F(KvModuleTest, DeeplyNestedFile_IsUnusableContent) {
  std::string deep = "{\"k\":\"old\",\"x\":";
  deep += std::string(60000, '[') + std::string(60000, ']') + "}";
  fs::create_directories(dir_.Join("TALVEK/desktop"));
  testing::WriteTextFile(StorePath(), deep);
  EXPECT_EQ(kv_.Call("get", {"k"})->Value(), JSValue(nullptr));
  for (int round = 0; round < 2; ++round) {
    auto set = kv_.Call("set", {"k", "new"});
    ASSERT_TRUE(set->IsResolved());
    EXPECT_EQ(set->Value(), JSValue(true));
  }
  EXPECT_EQ(testing::ReadTextFile(StorePath()), "{\"k\":\"new\"}");
  EXPECT_EQ(kv_.Call("remove", {"k"})->Value(), JSValue(true));
}

TEST_F(KvModuleTest, MissingValueArgument_StoresTheEmptyString) {
  ASSERT_TRUE(kv_.Call("set", {"k"})->IsResolved());
  EXPECT_EQ(kv_.Call("get", {"k"})->Value(), JSValue(""));
}

}  // namespace
}  // namespace VirelantDesktop
