#include "updater/issued_at_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::updater {
namespace {

namespace fs = std::filesystem;
using Result = IssuedAtStore::LoadResult;

TEST(IssuedAtText, Forms) {
  EXPECT_EQ(ParseIssuedAtText("talvek-issued-v1\n1764547200000\n"), 1764547200000);
  EXPECT_EQ(ParseIssuedAtText("talvek-issued-v1\n-5\n"), -5);
  EXPECT_EQ(ParseIssuedAtText("talvek-issued-v1\n" + std::string(15, '9') + "\n"), 999999999999999);
  for (const char* bad : {"talvek-issued-v1\n1764547200000", "talvek-issued-v1\r\n1764547200000\r\n",
                          "talvek-issued-v1\n1764547200000\r\n", "talvek-issued-v1\n1234567890123456\n",
                          "talvek-issued-v1\n\n", "talvek-issued-v1\n-\n", "talvek-issued-v1\n12 \n",
                          "talvek-issued-v1\n1\n\n", "\xEF\xBB\xBFtalvek-issued-v1\n1\n", ""}) {
    EXPECT_FALSE(ParseIssuedAtText(bad)) << bad;
  }
  EXPECT_EQ(IssuedAtText(-42), "talvek-issued-v1\n-42\n");
}

class IssuedAtStoreTest : public ::testing::Test {
 protected:
  FileIssuedAtStore Store() {
    return FileIssuedAtStore([this] { return primary_; }, {[this] { return legacy_; }});
  }
  testing::TempDir dir_;
  std::string primary_ = dir_.Join("pkg-parent/talvek-issuedat.production.txt");
  std::string legacy_ = dir_.Join("talvek-issuedat.txt");
};

TEST_F(IssuedAtStoreTest, SaveThenLoad) {
  int64_t value = 0;
  EXPECT_EQ(Store().Load(value), Result::Absent);
  EXPECT_TRUE(Store().Save(1764547200000));
  EXPECT_EQ(testing::ReadTextFile(primary_), "talvek-issued-v1\n1764547200000\n");
  EXPECT_EQ(Store().Load(value), Result::Found);
  EXPECT_EQ(value, 1764547200000);
  // A stale temporary file of this process is replaced, not in the way.
  testing::WriteTextFile(primary_ + ".tmp." + std::to_string(getpid()), "stale");
  EXPECT_TRUE(Store().Save(1764547200001));
  EXPECT_FALSE(fs::exists(primary_ + ".tmp." + std::to_string(getpid())));
  EXPECT_EQ(Store().Load(value), Result::Found);
  EXPECT_EQ(value, 1764547200001);
}

TEST_F(IssuedAtStoreTest, MigrationFromTheLegacyFile) {
  testing::WriteTextFile(legacy_, "talvek-issued-v1\n1764547200000\n");
  int64_t value = 0;
  EXPECT_EQ(Store().Load(value), Result::Found);
  EXPECT_EQ(value, 1764547200000);
  EXPECT_TRUE(fs::exists(primary_));
  EXPECT_FALSE(fs::exists(legacy_)) << "migrated, then removed";

  // A primary that cannot be written: the value still comes back, the legacy file stays.
  fs::remove(primary_);
  testing::WriteTextFile(legacy_, "talvek-issued-v1\n1764547200005\n");
  primary_ = dir_.Join("a-file/under-a-file.txt");
  testing::WriteTextFile(dir_.Join("a-file"), "x");
  EXPECT_EQ(Store().Load(value), Result::Found);
  EXPECT_EQ(value, 1764547200005);
  EXPECT_TRUE(fs::exists(legacy_));
}

TEST_F(IssuedAtStoreTest, LegacyCleanUpAndUnreadableForms) {
  ASSERT_TRUE(Store().Save(1000));
  testing::WriteTextFile(legacy_, "talvek-issued-v1\n2000\n");
  int64_t value = 0;
  EXPECT_EQ(Store().Load(value), Result::Found);
  EXPECT_EQ(value, 1000);
  EXPECT_TRUE(fs::exists(legacy_)) << "a larger legacy value stays";
  testing::WriteTextFile(legacy_, "talvek-issued-v1\n900\n");
  EXPECT_EQ(Store().Load(value), Result::Found);
  EXPECT_FALSE(fs::exists(legacy_)) << "a smaller one goes";

  testing::WriteTextFile(primary_, "talvek-issued-v1\n1000");
  EXPECT_EQ(Store().Load(value), Result::Unreadable) << "malformed, nothing to migrate";
  fs::remove(primary_);
  fs::create_directory(primary_);
  EXPECT_EQ(Store().Load(value), Result::Unreadable) << "a folder";
  fs::remove(primary_);
  testing::WriteTextFile(dir_.Join("elsewhere"), "talvek-issued-v1\n5\n");
  fs::create_symlink(dir_.Join("elsewhere"), primary_);
  EXPECT_EQ(Store().Load(value), Result::Unreadable) << "a link is not followed";
  EXPECT_EQ(FileIssuedAtStore([] { return std::string(); }, {}).Load(value), Result::Unreadable);
  EXPECT_FALSE(FileIssuedAtStore(nullptr, {}).Save(1));
}

TEST(AtomicWrite, ReplacesInOneStep) {
  testing::TempDir dir;
  const std::string path = dir.Join("talvek-gate.txt");
  EXPECT_TRUE(WriteFileAtomically(path, "one"));
  EXPECT_TRUE(WriteFileAtomically(path, "two"));
  EXPECT_EQ(testing::ReadTextFile(path), "two");
  EXPECT_FALSE(fs::exists(path + ".tmp"));
  EXPECT_FALSE(WriteFileAtomically(dir.Join("missing/x"), "x"));
}

}  // namespace
}  // namespace VirelantDesktop::updater
