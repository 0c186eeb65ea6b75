#include "modules/storage/kv_store.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::kv {
namespace {

using testing::ReadTextFile;
using testing::TempDir;
using testing::WriteTextFile;
namespace fs = std::filesystem;

TEST(ParseStore, AnythingButAnObjectReadsAsEmpty) {
  const std::pair<std::string, JSValue> cases[] = {
      {"", JSValueObject{}},
      {"{}", JSValueObject{}},
      {"{\"a\":\"x\",\"n\":5,\"o\":{\"p\":[1]}}", JSValue{{"a", "x"}, {"n", 5}, {"o", {{"p", {1}}}}}},
      {"[\"a\"]", JSValueObject{}},
      {"5", JSValueObject{}},
      {"\"text\"", JSValueObject{}},
      {"null", JSValueObject{}},
      {"{\"a\":", JSValueObject{}},
      {"{\"a\":\"x\"} trailing", JSValueObject{}},
      {"{\"a\":\"\xC3\x28\"}", JSValueObject{}},  // ill-formed UTF-8 inside a string
      {"\xFF\xFE{}", JSValueObject{}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(text));
    EXPECT_EQ(ParseStore(text), expected);
  }
}

// A store whose member "deep" holds `levels` containers around a 0, so the
// file is levels + 1 deep; arrays and objects alternate.
std::string NestedStore(int levels) {
  std::string open, close;
  open.reserve(static_cast<size_t>(levels) * 5);
  for (int i = 0; i < levels; ++i) {
    open += i % 2 == 0 ? "[" : "{\"o\":";
    close += i % 2 == 0 ? "]" : "}";
  }
  std::string text = "{\"deep\":" + open + "0";
  text.append(close.rbegin(), close.rend());
  return text + ",\"k\":\"v\"}";
}

TEST(ParseStore, NestingPastTheBoundReadsAsEmpty) {
  const JSValue atBound = ParseStore(NestedStore(kMaxStoreDepth - 1));
  EXPECT_EQ(atBound.value("k", ""), "v");
  EXPECT_EQ(SerializeStore(atBound), NestedStore(kMaxStoreDepth - 1)) << "kept whole and written back unchanged";
  for (int levels : {kMaxStoreDepth, kMaxStoreDepth + 1, 60000}) {
    SCOPED_TRACE(levels);
    EXPECT_EQ(ParseStore(NestedStore(levels)), JSValueObject{});
  }
  // Unclosed nesting is broken JSON as well as too deep.
  EXPECT_EQ(ParseStore("{\"a\":" + std::string(100000, '[')), JSValueObject{});
}

TEST(SerializeStore, CompactUtf8) {
  EXPECT_EQ(SerializeStore(JSValue{{"b", "\xC3\xA9"}, {"a", ""}}), "{\"a\":\"\",\"b\":\"\xC3\xA9\"}");
}

class KvStoreTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.Join("TALVEK/desktop"); }
  std::string StorePath() const { return Folder() + "/kv.json"; }
  std::string TempPath() const { return Folder() + "/kv.json.tmp"; }
  Store MakeStore(AtomicWriter writer = {}) const { return Store(StoreOptions{Folder(), std::move(writer)}); }
  void WriteStore(const std::string& text) const {
    fs::create_directories(Folder());
    WriteTextFile(StorePath(), text);
  }

  TempDir dir_;
};

TEST_F(KvStoreTest, NoFile_GetIsAbsentRemoveWritesNothingSetCreatesTheChain) {
  Store store = MakeStore();
  EXPECT_EQ(store.Get("k"), std::nullopt);
  store.Remove("k");
  EXPECT_FALSE(fs::exists(dir_.Join("TALVEK")));
  store.Set("k", "v");
  EXPECT_EQ(ReadTextFile(StorePath()), "{\"k\":\"v\"}");
  EXPECT_EQ(store.Get("k"), "v");
  struct stat info {};
  ASSERT_EQ(stat(StorePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(Folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(TempPath()));
}

TEST_F(KvStoreTest, UnusableContent_ReadsEmptyAndTheNextSetReplacesIt) {
  for (const char* content : {"\xC3\x28garbage", "[1,2,3]", "{\"broken\":", "42"}) {
    SCOPED_TRACE(::testing::PrintToString(content));
    WriteStore(content);
    Store store = MakeStore();
    EXPECT_EQ(store.Get("broken"), std::nullopt);
    EXPECT_EQ(ReadTextFile(StorePath()), content) << "reading never rewrites";
    store.Set("k", "v");
    EXPECT_EQ(ReadTextFile(StorePath()), "{\"k\":\"v\"}");
  }
}

// Serialising such a member back recursed once per level and overflowed
// the stack on the next save, and on every save after it.
TEST_F(KvStoreTest, DeeplyNestedFile_ReadsAsUnusableAndTheNextChangesReplaceIt) {
  const std::string deep = NestedStore(60000);
  WriteStore(deep);
  Store store = MakeStore();
  EXPECT_EQ(store.Get("k"), std::nullopt);
  EXPECT_EQ(store.Get("deep"), std::nullopt);
  store.Remove("k");
  EXPECT_EQ(ReadTextFile(StorePath()), deep) << "reading and removing an absent key never rewrite";
  store.Set("new", "v");
  EXPECT_EQ(ReadTextFile(StorePath()), "{\"new\":\"v\"}");
  store.Set("other", "w");
  EXPECT_EQ(store.Get("new"), "v");
  EXPECT_EQ(store.Get("other"), "w");
}

TEST_F(KvStoreTest, ForeignMembersSurviveAndNonStringsAreFailures) {
  WriteStore("{\"n\":5,\"o\":{\"x\":[true,null]},\"s\":\"keep\"}");
  Store store = MakeStore();
  EXPECT_THROW(store.Get("n"), Failure);
  EXPECT_THROW(store.Get("o"), Failure);
  store.Set("new", "");
  EXPECT_EQ(ParseStore(ReadTextFile(StorePath())),
            (JSValue{{"n", 5}, {"new", ""}, {"o", {{"x", {true, nullptr}}}}, {"s", "keep"}}));
  EXPECT_EQ(store.Get("new"), "") << "an empty value is a value, not an absence";
  store.Set("n", "now a string");
  EXPECT_EQ(store.Get("n"), "now a string");
}

TEST_F(KvStoreTest, RemoveOfAnAbsentKeyLeavesTheFileAlone) {
  WriteStore("{\"a\":\"1\"}");
  struct stat before {};
  ASSERT_EQ(stat(StorePath().c_str(), &before), 0);
  // Back-date the file so any rewrite would show in its time.
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, StorePath().c_str(), old, 0), 0);
  Store store = MakeStore();
  store.Remove("absent");
  struct stat after {};
  ASSERT_EQ(stat(StorePath().c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(after.st_ino, before.st_ino);
  store.Remove("a");
  EXPECT_EQ(ReadTextFile(StorePath()), "{}");
}

TEST_F(KvStoreTest, StoreThatExistsButCannotBeRead_FailsAndWritesNothing) {
  fs::create_directories(StorePath());  // a folder where the file should be
  Store store = MakeStore();
  EXPECT_THROW(store.Get("k"), Failure);
  EXPECT_THROW(store.Set("k", "v"), Failure);
  EXPECT_THROW(store.Remove("k"), Failure);
  EXPECT_TRUE(fs::is_directory(StorePath()));
  EXPECT_FALSE(fs::exists(TempPath()));
}

TEST_F(KvStoreTest, FailedRename_KeepsTheOldStore) {
  WriteStore("{\"k\":\"old\"}");
  // The real writer, with its rename made to fail: the target path it gets
  // is a folder, so rename(2) refuses (EISDIR) after the temporary file was
  // written and flushed.
  const std::string blocker = dir_.Join("blocker");
  fs::create_directories(blocker + "/inside");
  platform::AtomicWriteStage failed = platform::AtomicWriteStage::None;
  Store store = MakeStore([&](const std::string&, std::string_view data, const platform::AtomicWriteOptions& options) {
    auto result = platform::WriteFileAtomic(blocker, data, options);
    failed = result.failedStage;
    return result;
  });
  EXPECT_THROW(store.Set("k", "new"), Failure);
  EXPECT_EQ(failed, platform::AtomicWriteStage::Rename);
  EXPECT_EQ(ReadTextFile(StorePath()), "{\"k\":\"old\"}");
  EXPECT_FALSE(fs::exists(TempPath())) << "the temporary file is deleted";
  EXPECT_EQ(MakeStore().Get("k"), "old");
}

TEST_F(KvStoreTest, TemporaryPathTaken_SaveFailsAndKeepsTheStore) {
  WriteStore("{\"k\":\"old\"}");
  fs::create_directories(TempPath());
  EXPECT_THROW(MakeStore().Set("k", "new"), Failure);
  EXPECT_EQ(ReadTextFile(StorePath()), "{\"k\":\"old\"}");
}

TEST_F(KvStoreTest, LeftoverTemporaryFile_IsOverwritten) {
  WriteStore("{\"k\":\"old\"}");
  WriteTextFile(TempPath(), "half-written garbage from a crash");
  MakeStore().Set("k", "new");
  EXPECT_EQ(ReadTextFile(StorePath()), "{\"k\":\"new\"}");
  EXPECT_FALSE(fs::exists(TempPath()));
}

TEST_F(KvStoreTest, FlushOfTheFolderFailingAfterTheRename_StillSucceeds) {
  Store store = MakeStore([](const std::string& path, std::string_view data, const platform::AtomicWriteOptions& options) {
    auto result = platform::WriteFileAtomic(path, data, options);
    if (result.ok()) result = {platform::AtomicWriteStage::SyncFolder, EIO};
    return result;
  });
  EXPECT_NO_THROW(store.Set("k", "v"));
  EXPECT_EQ(store.Get("k"), "v");
}

TEST_F(KvStoreTest, NoDataFolder_FailsAsLocalAppData) {
  const char* home = getenv("HOME");
  const char* data = getenv("XDG_DATA_HOME");
  const std::string savedHome = home ? home : "";
  const std::string savedData = data ? data : "";
  unsetenv("HOME");
  unsetenv("XDG_DATA_HOME");
  Store store;  // the per-user folder, unavailable now
  try {
    store.Get("k");
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_STREQ(failure.what(), "localappdata");
  }
  setenv("HOME", savedHome.c_str(), 1);
  setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

}  // namespace
}  // namespace VirelantDesktop::kv
