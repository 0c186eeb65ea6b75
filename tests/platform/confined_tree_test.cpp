#include "platform/confined_tree.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

namespace fs = std::filesystem;

class ConfinedTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.Join("tree/a/b"));
    fs::create_directories(dir_.Join("outside/inner"));
    testing::WriteTextFile(dir_.Join("tree/a/b/file"), "x");
    testing::WriteTextFile(dir_.Join("outside/inner/keep"), "k");
    fs::create_directory_symlink(dir_.Join("outside"), dir_.Join("tree/a/link"));
    fs::create_symlink(dir_.Join("outside/inner/keep"), dir_.Join("tree/a/filelink"));
  }
  testing::TempDir dir_;
};

TEST_F(ConfinedTreeTest, RemovingATreeUnlinksLinksAndNeverEntersThem) {
  EXPECT_TRUE(RemoveTree(dir_.Join("tree")));
  EXPECT_FALSE(fs::exists(dir_.Join("tree")));
  EXPECT_EQ(testing::ReadTextFile(dir_.Join("outside/inner/keep")), "k");
  EXPECT_TRUE(RemoveTree(dir_.Join("tree"))) << "missing counts as removed";
}

TEST_F(ConfinedTreeTest, RemovingAPathUnlinksALinkToAFolderButNotARealFolder) {
  EXPECT_TRUE(RemovePath(dir_.Join("tree/a/link")));
  EXPECT_TRUE(fs::exists(dir_.Join("outside/inner/keep")));
  EXPECT_FALSE(RemovePath(dir_.Join("tree/a/b")));
  EXPECT_TRUE(RemovePath(dir_.Join("tree/a/b/file")));
}

TEST_F(ConfinedTreeTest, OpeningBeneathRefusesLinksOnTheWay) {
  UniqueFd tree = OpenFolderNoFollow(dir_.Join("tree"));
  ASSERT_TRUE(tree);
  EXPECT_TRUE(OpenFolderBeneath(tree, "a/b", false));
  EXPECT_FALSE(OpenFolderBeneath(tree, "a/link/inner", false));
  EXPECT_FALSE(OpenFolderBeneath(tree, "a/link/new", true));
  EXPECT_FALSE(fs::exists(dir_.Join("outside/new")));
  EXPECT_FALSE(OpenFolderBeneath(tree, "a/../a", false));
  EXPECT_FALSE(OpenFolderNoFollow(dir_.Join("tree/a/link")));
  UniqueFd made = OpenFolderBeneath(tree, "x/y/z", true);
  ASSERT_TRUE(made);
  EXPECT_EQ(PathOfOpen(made), fs::canonical(dir_.Join("tree/x/y/z")).string());
}

TEST_F(ConfinedTreeTest, WalkingReportsRealFilesOnly) {
  UniqueFd tree = OpenFolderNoFollow(dir_.Join("tree"));
  std::vector<std::string> seen;
  WalkFiles(tree, "T", nullptr, [&](const std::string& path, const FolderEntry&) { seen.push_back(path); });
  EXPECT_EQ(seen, std::vector<std::string>{"T/a/b/file"});
}

}  // namespace
}  // namespace VirelantDesktop::platform
