#include "modules/media/media_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::media {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = uint64_t{1} << 20;

class MediaRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CACHE_HOME");
    saved_ = old ? old : "";
    setenv("XDG_CACHE_HOME", dir_.Join("cache").c_str(), 1);
    ResetMediaRootForTesting();
    ResetStagingWipeForTesting();
  }
  void TearDown() override {
    setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
    ResetMediaRootForTesting();
  }

  std::string Root() {
    const std::string root = MediaRoot();
    EXPECT_FALSE(root.empty());
    return root;
  }
  // A file of `size` bytes (sparse: no disk is used) written `ageSeconds` ago.
  static void MakeFile(const std::string& path, uint64_t size, int ageSeconds = 0) {
    fs::create_directories(fs::path(path).parent_path());
    testing::WriteTextFile(path, "");
    fs::resize_file(path, size);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
  }

  testing::TempDir dir_;
  std::string saved_;
};

TEST_F(MediaRootTest, TheRootIsOwnerOnlyAndRebuiltWhenDeleted) {
  const std::string root = Root();
  EXPECT_EQ(root, fs::canonical(dir_.Join("cache/TALVEK-Cache/media/v1")).string());
  EXPECT_EQ(fs::status(dir_.Join("cache/TALVEK-Cache")).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(root).permissions(), fs::perms::owner_all);

  fs::remove_all(dir_.Join("cache/TALVEK-Cache"));
  EXPECT_EQ(MediaRoot(), root) << "deleted while running: made again on the next use";
  EXPECT_TRUE(fs::is_directory(root));
}

TEST_F(MediaRootTest, ALinkedRootIsRefusedALinkHigherUpIsFollowed) {
  fs::create_directories(dir_.Join("elsewhere/v1"));
  fs::create_directories(dir_.Join("cache/TALVEK-Cache/media"));
  fs::create_directory_symlink(dir_.Join("elsewhere/v1"), dir_.Join("cache/TALVEK-Cache/media/v1"));
  EXPECT_EQ(MediaRoot(), "");

  ResetMediaRootForTesting();
  fs::create_directories(dir_.Join("real-home-cache"));
  setenv("XDG_CACHE_HOME", dir_.Join("linked-cache").c_str(), 1);
  fs::create_directory_symlink(dir_.Join("real-home-cache"), dir_.Join("linked-cache"));
  EXPECT_EQ(MediaRoot(), fs::canonical(dir_.Join("real-home-cache")).string() + "/TALVEK-Cache/media/v1");

  ResetMediaRootForTesting();
  unsetenv("XDG_CACHE_HOME");
  const char* home = getenv("HOME");
  setenv("HOME", "relative/home", 1);
  EXPECT_EQ(MediaRoot(), "") << "no cache folder";
  setenv("HOME", home, 1);
}

TEST_F(MediaRootTest, ScopeFoldersStayInsideTheRoot) {
  const std::string root = Root();
  const CacheScope scope{"u1", "_person", "_none"};
  EXPECT_EQ(OpenScopeDir(scope).path, root + "/u1/_person/_none");
  EXPECT_TRUE(fs::is_directory(root + "/u1/_person/_none"));
  EXPECT_EQ(OpenScopeDir(scope).path, root + "/u1/_person/_none") << "again: already there";

  // A link at the uid folder pointing outside.
  fs::create_directories(dir_.Join("outside"));
  fs::create_directory_symlink(dir_.Join("outside"), root + "/u2");
  EXPECT_FALSE(OpenScopeDir({"u2", "w", "t"}));
  EXPECT_TRUE(fs::is_empty(dir_.Join("outside"))) << "nothing was made outside the root";
  // A file where a folder belongs.
  testing::WriteTextFile(root + "/u3", "x");
  EXPECT_FALSE(OpenScopeDir({"u3", "w", "t"}));
}

TEST_F(MediaRootTest, FindingAndListingSkipPartsLinksAndReservedEntries) {
  const std::string root = Root();
  const std::string folder = root + "/u/w/t";
  const std::string hash(64, 'a');
  MakeFile(folder + "/" + hash + ".part", 10);
  fs::create_directories(folder + "/" + hash + ".dir");
  fs::create_symlink(dir_.Join("cache"), folder + "/" + hash + ".lnk");
  const platform::UniqueFd open = platform::OpenFolderNoFollow(folder);
  ASSERT_TRUE(open);
  EXPECT_FALSE(FindCachedEntry(open, hash));
  MakeFile(folder + "/" + hash + ".png", 10);
  MakeFile(folder + "/" + std::string(64, 'b') + ".png", 10);
  const auto found = FindCachedEntry(open, hash);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, hash + ".png");
  EXPECT_EQ(found->size, 10u);

  MakeFile(root + "/tmp/g/name.png", 5);
  MakeFile(root + "/up/s/a.jpg", 5);
  MakeFile(root + "/pending-wipe", 0);
  MakeFile(dir_.Join("outside/secret.png"), 5);
  fs::create_directory_symlink(dir_.Join("outside"), root + "/u/linked");
  auto names = [](const std::vector<CacheFile>& files) {
    std::vector<std::string> out;
    for (const CacheFile& f : files) out.push_back(fs::path(f.path).filename().string());
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(names(ListCacheFiles(root, false)), (std::vector<std::string>{hash + ".png", std::string(64, 'b') + ".png"}));
  EXPECT_EQ(names(ListCacheFiles(root, true)).size(), 3u);
  const auto files = ListCacheFiles(root, false);
  EXPECT_EQ(files[0].size, 10u);
  EXPECT_GT(files[0].modifiedNs, 0);
}

TEST_F(MediaRootTest, HousekeepingClearsPartsTmpAndStagingOncePerInstance) {
  const std::string root = Root();
  const std::string folder = root + "/u/w/t";
  MakeFile(folder + "/hash.part", 10);
  MakeFile(folder + "/hash.png", 10);
  MakeFile(root + "/tmp/g/copy.png", 10);
  MakeFile(root + "/up/batch/a.jpg", 10);
  State state;
  RunHousekeeping(state);
  EXPECT_FALSE(fs::exists(folder + "/hash.part"));
  EXPECT_TRUE(fs::exists(folder + "/hash.png"));
  EXPECT_FALSE(fs::exists(root + "/tmp"));
  EXPECT_FALSE(fs::exists(root + "/up"));

  MakeFile(folder + "/later.part", 10);
  MakeFile(root + "/up/batch/b.jpg", 10);
  RunHousekeeping(state);
  State another;
  RunHousekeeping(another);
  EXPECT_FALSE(fs::exists(folder + "/later.part")) << "a new module instance cleans again";
  EXPECT_TRUE(fs::exists(root + "/up/batch/b.jpg")) << "staging is wiped once per process";
}

TEST_F(MediaRootTest, AnInterruptedClearIsFinishedFirst) {
  const std::string root = Root();
  MakeFile(root + "/u/w/t/hash.png", 10);
  MakeFile(root + "/tmp/g/copy.png", 10);
  MakeFile(root + "/pending-wipe", 0);
  MakeFile(dir_.Join("outside/keep.png"), 5);
  fs::create_directory_symlink(dir_.Join("outside"), root + "/u/linked");
  State state;
  RunHousekeeping(state);
  EXPECT_TRUE(fs::is_empty(root));
  EXPECT_TRUE(fs::exists(dir_.Join("outside/keep.png"))) << "a link is unlinked, never entered";
}

TEST_F(MediaRootTest, TheCapEvictsTheOldestAndNeverTheNewFile) {
  const std::string root = Root();
  // 1.5 GiB in six 256 MiB files, oldest first.
  for (int i = 0; i < 6; ++i) MakeFile(root + "/u/w/t/f" + std::to_string(i) + ".bin", 256 * kMiB, 600 - i * 60);
  EnforceCacheCap(root + "/u/w/t/f5.bin");
  uint64_t total = 0;
  for (const CacheFile& file : ListCacheFiles(root, false)) total += file.size;
  EXPECT_LE(total, kCacheCapBytes);
  EXPECT_FALSE(fs::exists(root + "/u/w/t/f0.bin"));
  EXPECT_FALSE(fs::exists(root + "/u/w/t/f1.bin"));
  EXPECT_TRUE(fs::exists(root + "/u/w/t/f2.bin"));

  // A new file larger than the cap on its own stays; everything else goes.
  MakeFile(root + "/u/w/t/big.bin", 1100 * kMiB, 3600);
  EnforceCacheCap(root + "/u/w/t/big.bin");
  const auto left = ListCacheFiles(root, false);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, root + "/u/w/t/big.bin");
}

TEST_F(MediaRootTest, CopiesCarryTheirOriginUrl) {
  const std::string path = dir_.Join("copy.png");
  testing::WriteTextFile(path, "x");
  const platform::UniqueFd folder = platform::OpenFolderNoFollow(dir_.path());
  ASSERT_TRUE(platform::SetOriginAndModeAt(folder, "copy.png", "https://host/api/storage/a?b=1", std::nullopt));
  char value[256] = {};
  const ssize_t length = getxattr(path.c_str(), "user.xdg.origin.url", value, sizeof value);
  if (length < 0 && errno == ENOTSUP) GTEST_SKIP() << "no user attributes on this file system";
  EXPECT_EQ(std::string(value, static_cast<size_t>(std::max<ssize_t>(length, 0))), "https://host/api/storage/a?b=1");
  EXPECT_FALSE(platform::SetOriginAndModeAt(folder, "missing.png", "https://x", std::nullopt));
}

TEST_F(MediaRootTest, StagingWipes) {
  const std::string root = Root();
  MakeFile(root + "/up/a/x.jpg", 1);
  WipeStagingOnce();
  EXPECT_FALSE(fs::exists(root + "/up"));
  MakeFile(root + "/up/a/y.jpg", 1);
  WipeStagingOnce();
  EXPECT_TRUE(fs::exists(root + "/up/a/y.jpg"));
  WipeStaging();
  EXPECT_FALSE(fs::exists(root + "/up"));
}

}  // namespace
}  // namespace VirelantDesktop::media
