#include "modules/attach/staging_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "modules/attach/attach_types.h"
#include "tests/attach/staging_fixture.h"

namespace VirelantDesktop::attach {
namespace {

namespace fs = std::filesystem;
using testing::ReadTextFile;
using testing::WriteTextFile;

constexpr const char* kGuid = "0F8FAD5B-D9CB-469F-A165-70867728950E";
constexpr const char* kOtherGuid = "7C9E6679-7425-40DE-944B-E07FC1F90AE7";

class StagingOpsTest : public testing::StagingTest {
 protected:
  // A staged item kGuid/name holding `content`; its path.
  std::string Item(const std::string& folder, const std::string& name, const std::string& content) {
    fs::create_directories(staging_ + "/" + folder);
    const std::string path = staging_ + "/" + folder + "/" + name;
    WriteTextFile(path, content);
    return path;
  }
  void Age(const std::string& path, std::chrono::seconds age) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
  }
};

TEST_F(StagingOpsTest, PruneRemovesEntriesADayAndASecondOld) {
  using std::chrono::seconds;
  Item(kGuid, "old.txt", "x");
  Age(staging_ + "/" + kGuid, seconds(86401 + 5));
  Item(kOtherGuid, "young.txt", "x");
  Age(staging_ + "/" + kOtherGuid, seconds(86401 - 60));
  Item("stage-future", "image.png", "x");
  Age(staging_ + "/stage-future", seconds(-3600));
  WriteTextFile(staging_ + "/stray-file", "x");
  Age(staging_ + "/stray-file", seconds(200000));

  PruneStaging();
  EXPECT_EQ(StagedEntries(), (std::vector<std::string>{kOtherGuid, "stage-future"}));
}

TEST_F(StagingOpsTest, StagingSizeCountsFilesBelowAndSkipsLinks) {
  Item(kGuid, "a.bin", std::string(1000, 'a'));
  Item(std::string(kOtherGuid) + "/deeper", "b.bin", std::string(24, 'b'));
  const std::string outside = SparseSource("outside.bin", 5 << 20);
  fs::create_symlink(outside, staging_ + "/" + kGuid + "/link.bin");
  fs::create_directory_symlink(sources_.path(), staging_ + "/linked-folder");

  EXPECT_EQ(StagingSize(staging_), 1024u);
  EXPECT_EQ(StagingSize(staging_ + "/missing"), 0u);
}

TEST_F(StagingOpsTest, DiscardRemovesTheWholeItemFolder) {
  const std::string path = Item(kGuid, "photo.jpg", "x");
  WriteTextFile(staging_ + "/" + kGuid + "/extra", "y");
  EXPECT_TRUE(DiscardStaged(path));
  EXPECT_TRUE(StagedEntries().empty());
  EXPECT_FALSE(DiscardStaged(path)) << "already gone";
}

TEST_F(StagingOpsTest, DiscardRefusesAnythingButAStagedItem) {
  const std::string kept = Item(kGuid, "keep.txt", "x");
  Item(std::string("stage-") + kGuid, "image.png", "x");
  const std::string outsideFolder = sources_.Join(kOtherGuid);
  fs::create_directories(outsideFolder);
  WriteTextFile(outsideFolder + "/precious.txt", "keep me");
  fs::create_directory_symlink(outsideFolder, staging_ + "/" + kOtherGuid);

  const std::vector<std::string> refused = {
      outsideFolder + "/precious.txt",                      // outside the staging area
      staging_ + "/stage-" + kGuid + "/image.png",          // the clipboard's temporary folder
      staging_ + "/" + kGuid + "/..",
      staging_ + "/" + kGuid + "/../" + kGuid + "/keep.txt",
      staging_ + "/" + kGuid,
      staging_ + "/" + kOtherGuid + "/precious.txt",        // a GUID-named link leading outside
      staging_ + "/7C9E6679-7425-40DE-944B-000000000000/a", // no such item
  };
  for (const std::string& path : refused) EXPECT_FALSE(DiscardStaged(path)) << path;

  EXPECT_EQ(ReadTextFile(outsideFolder + "/precious.txt"), "keep me");
  EXPECT_EQ(ReadTextFile(kept), "x");
  EXPECT_TRUE(fs::exists(staging_ + "/stage-" + kGuid + "/image.png"));
}

TEST_F(StagingOpsTest, ReadBase64AllowsExactlyTheMaximum) {
  const std::string path = Item(kGuid, "hello.txt", "hello");
  EXPECT_EQ(ReadStagedBase64(path, 5), "aGVsbG8=");
  EXPECT_EQ(ReadStagedBase64(path, kMaxBase64ReadBytes), "aGVsbG8=");
  EXPECT_EQ(ReadStagedBase64(path, 4), "") << "one byte over the maximum";
  EXPECT_EQ(ReadStagedBase64(path, 0), "");
  EXPECT_EQ(ReadStagedBase64("", 5), "");
}

TEST_F(StagingOpsTest, ReadBase64RefusesLinksFoldersAndOutsidePaths) {
  const std::string secret = Source("secret.txt", "secret");
  fs::create_directories(staging_ + "/" + kGuid + "/sub");
  fs::create_symlink(secret, staging_ + "/" + kGuid + "/link.txt");
  fs::create_directory_symlink(sources_.path(), staging_ + "/" + kOtherGuid);

  EXPECT_EQ(ReadStagedBase64(staging_ + "/" + kGuid + "/link.txt", 100), "");
  EXPECT_EQ(ReadStagedBase64(staging_ + "/" + kGuid + "/sub", 100), "");
  EXPECT_EQ(ReadStagedBase64(staging_ + "/" + kGuid + "/missing", 100), "");
  EXPECT_EQ(ReadStagedBase64(staging_ + "/" + kOtherGuid + "/secret.txt", 100), "");
  EXPECT_EQ(ReadStagedBase64(secret, 100), "");
}

}  // namespace
}  // namespace VirelantDesktop::attach
