#include "platform/confined_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/confined_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

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

TEST_F(ConfinedTreeTest, OpeningAFileBeneathRefusesLinksAtEveryLevel) {
  UniqueFd tree = OpenFolderNoFollow(dir_.Join("tree"));
  ASSERT_TRUE(tree);
  EXPECT_TRUE(OpenFileBeneath(tree, "a/b/file"));
  EXPECT_FALSE(OpenFileBeneath(tree, "a/link/inner/keep")) << "a linked folder";
  EXPECT_FALSE(OpenFileBeneath(tree, "a/filelink")) << "a linked file";
  EXPECT_FALSE(OpenFileBeneath(tree, "a/b")) << "a folder";
  EXPECT_FALSE(OpenFileBeneath(tree, "a/../a/b/file"));
}

TEST_F(ConfinedTreeTest, AnOpenFileKeepsItsPathWhenItsFolderIsReplacedByALink) {
  UniqueFd tree = OpenFolderNoFollow(dir_.Join("tree"));
  UniqueFd file = OpenFileBeneath(tree, "a/b/file");
  ASSERT_TRUE(file);
  fs::rename(dir_.Join("tree/a/b"), dir_.Join("tree/a/moved"));
  fs::create_directory_symlink(dir_.Join("outside/inner"), dir_.Join("tree/a/b"));
  testing::WriteTextFile(dir_.Join("outside/inner/file"), "outside");
  EXPECT_EQ(testing::ReadTextFile(PathOfOpenFile(file)), "x");
  EXPECT_EQ(PathOfOpenFile(UniqueFd()), "");
}

// The mark needs write permission on the file, which its owner loses once it
// is read-only; root never notices, so this runs as an ordinary user.
TEST_F(ConfinedTreeTest, TheOriginIsMarkedBeforeTheModeChanges) {
  const std::string folder = dir_.Join("user");
  fs::create_directories(folder);
  testing::WriteTextFile(folder + "/probe", "x");
  SetOriginUrl(folder + "/probe", "https://probe");
  if (OriginUrl(folder + "/probe") != "https://probe") {
    GTEST_SKIP() << "this file system keeps no user attributes, even for root";
  }
  testing::WriteTextFile(folder + "/cached", "c");
  testing::WriteTextFile(folder + "/readonly", "r");
  chmod((folder + "/readonly").c_str(), 0400);
  fs::create_symlink(folder + "/cached", folder + "/link");
  testing::HandToUnprivilegedUser(folder);
  const std::string outcome = testing::RunUnprivileged([&]() -> std::string {
    const UniqueFd fd = OpenFolderNoFollow(folder);
    struct stat info {};
    if (!SetOriginAndModeAt(fd, "cached", "https://a", 0444u)) return "cached: failed";
    if (OriginUrl(folder + "/cached") != "https://a") return "cached: no mark";
    if (stat((folder + "/cached").c_str(), &info) != 0 || (info.st_mode & 07777) != 0444) return "cached: mode";
    // A file its owner may not write keeps its mode and still gets the mark.
    if (!SetOriginAndModeAt(fd, "readonly", "https://b", std::nullopt)) return "readonly: failed";
    if (OriginUrl(folder + "/readonly") != "https://b") return "readonly: no mark";
    if (stat((folder + "/readonly").c_str(), &info) != 0 || (info.st_mode & 07777) != 0400) return "readonly: mode";
    if (SetOriginAndModeAt(fd, "link", "https://c", 0444u)) return "a link was followed";
    return {};
  });
  EXPECT_EQ(outcome, "");
}

}  // namespace
}  // namespace VirelantDesktop::platform
