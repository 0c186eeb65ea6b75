// Install and removal in a temporary font folder and registration file,
// with the shipped fonts of this build copied beside a stand-in executable.
#include "fonts/font_installer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "fonts/font_files.h"
#include "fonts/font_names.h"
#include "fonts/font_tables.h"
#include "platform/font_registry.h"
#include "platform/unique_fd.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace VirelantDesktop::fonts {
namespace {

namespace fs = std::filesystem;
using testing::ReadTextFile;
using testing::TempDir;
using testing::WriteTextFile;

constexpr const char* kRegular = "SUIT-Variable.ttf";
constexpr const char* kBold = "SUIT-Variable_bold.ttf";

std::string HashOf(const std::string& path) { return HashText(Fnv1a(kFnvOffset, ReadTextFile(path))); }

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class FontInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(exeDir_.Join("Fonts"));
    for (const auto& row : kFontFileTable) {
      fs::copy_file(std::string(TALVEK_FONTS_DIR) + "/" + std::string(row.file),
                    exeDir_.Join("Fonts/" + std::string(row.file)));
    }
  }

  bool Install() {
    return InstallFontsInto(places_, exeDir_.path(), [this](const std::string& folder, const std::vector<std::string>& a) {
      ++changes_;
      EXPECT_EQ(folder, places_.folder);
      added_ = a;
    });
  }
  void Remove() {
    RemoveFontsFrom(places_, exeDir_.path(), [this](const std::string&, const std::vector<std::string>& a) {
      ++changes_;
      EXPECT_TRUE(a.empty());
    });
  }

  std::string Shipped(const std::string& file) const { return exeDir_.Join("Fonts/" + file); }
  std::string InFolder(const std::string& name) const { return places_.folder + "/" + name; }
  std::optional<std::string> Registered(const std::string& file) const {
    return platform::FontRegistry(places_.registryFile).GetValue(ProductValueName(file));
  }
  std::set<std::string> FolderNames() const {
    std::set<std::string> names;
    if (fs::is_directory(places_.folder)) {
      for (const auto& entry : fs::directory_iterator(places_.folder)) names.insert(entry.path().filename());
    }
    return names;
  }

  TempDir exeDir_;
  TempDir home_;
  FontPlaces places_{home_.Join("data/fonts"), home_.Join("data/TALVEK/fonts.json")};
  int changes_ = 0;
  std::vector<std::string> added_;
};

TEST_F(FontInstaller, TheFirstRunInstallsEveryFileOnceAndTheSecondChangesNothing) {
  ASSERT_TRUE(Install());
  EXPECT_EQ(changes_, 1);
  EXPECT_EQ(added_.size(), kFontFileTable.size());
  const auto values = platform::FontRegistry(places_.registryFile).ReadValues();
  ASSERT_EQ(values.size(), kFontFileTable.size());
  for (const auto& row : kFontFileTable) {
    const std::string file(row.file);
    EXPECT_EQ(Registered(file).value_or(""), InFolder(file));
    EXPECT_EQ(ReadTextFile(InFolder(file)), ReadTextFile(Shipped(file))) << file;
  }
  const ino_t before = InodeOf(InFolder(kRegular));
  const std::string registryBefore = ReadTextFile(places_.registryFile);
  EXPECT_FALSE(Install());
  EXPECT_EQ(changes_, 1) << "nothing new: the desktop is not told";
  EXPECT_EQ(InodeOf(InFolder(kRegular)), before) << "an installed copy is not rewritten";
  EXPECT_EQ(ReadTextFile(places_.registryFile), registryBefore);
}

TEST_F(FontInstaller, ADeletedOrDamagedCopyIsRestored) {
  ASSERT_TRUE(Install());
  fs::remove(InFolder(kRegular));
  WriteTextFile(InFolder(kBold), "truncated");
  ASSERT_TRUE(Install());
  EXPECT_EQ(changes_, 2);
  EXPECT_EQ(std::set<std::string>(added_.begin(), added_.end()),
            (std::set<std::string>{InFolder(kRegular), InFolder(kBold)}));
  EXPECT_EQ(ReadTextFile(InFolder(kRegular)), ReadTextFile(Shipped(kRegular)));
  EXPECT_EQ(ReadTextFile(InFolder(kBold)), ReadTextFile(Shipped(kBold)));
}

TEST_F(FontInstaller, AnotherProgramsFileKeepsItsNameAndOursGoesToTheHashSuffixedOne) {
  fs::create_directories(places_.folder);
  WriteTextFile(InFolder(kRegular), "another program's font");
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadTextFile(InFolder(kRegular)), "another program's font");
  const std::string hashed = InFolder(HashSuffixedName(kRegular, HashOf(Shipped(kRegular))));
  EXPECT_EQ(Registered(kRegular).value_or(""), hashed);
  EXPECT_EQ(ReadTextFile(hashed), ReadTextFile(Shipped(kRegular)));

  EXPECT_FALSE(Install()) << "the hash-suffixed copy counts as installed";
  EXPECT_EQ(ReadTextFile(InFolder(kRegular)), "another program's font");

  Remove();
  EXPECT_FALSE(fs::exists(hashed));
  EXPECT_EQ(ReadTextFile(InFolder(kRegular)), "another program's font") << "removal leaves it too";
}

TEST_F(FontInstaller, ALinkOrFolderAtTheNameIsNeverWrittenThrough) {
  fs::create_directories(places_.folder);
  const std::string victim = home_.Join("victim.ttf");
  WriteTextFile(victim, "not a font of ours");
  fs::create_symlink(victim, InFolder(kRegular));
  fs::create_directory(InFolder(kBold));
  ASSERT_TRUE(Install());
  EXPECT_EQ(ReadTextFile(victim), "not a font of ours");
  EXPECT_TRUE(fs::is_symlink(InFolder(kRegular)));
  EXPECT_TRUE(fs::is_directory(InFolder(kBold)));
  EXPECT_EQ(Registered(kRegular).value_or(""), InFolder(HashSuffixedName(kRegular, HashOf(Shipped(kRegular)))));
  EXPECT_EQ(Registered(kBold).value_or(""), InFolder(HashSuffixedName(kBold, HashOf(Shipped(kBold)))));
  Remove();
  EXPECT_EQ(ReadTextFile(victim), "not a font of ours");
  EXPECT_TRUE(fs::is_symlink(InFolder(kRegular)));
}

TEST_F(FontInstaller, AFontFolderThatIsALinkIsUnavailable) {
  const std::string elsewhere = home_.Join("elsewhere");
  fs::create_directories(elsewhere);
  fs::create_directories(home_.Join("data"));
  fs::create_directory_symlink(elsewhere, places_.folder);
  EXPECT_FALSE(Install());
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(platform::FontRegistry(places_.registryFile).ReadValues().empty());

  // Files put there by hand, registered as ours: removal does not reach in.
  fs::copy_file(Shipped(kRegular), elsewhere + "/" + kRegular);
  ASSERT_TRUE(platform::FontRegistry(places_.registryFile).SetValue(ProductValueName(kRegular), InFolder(kRegular)));
  Remove();
  EXPECT_TRUE(fs::exists(elsewhere + "/" + kRegular));
  EXPECT_EQ(changes_, 0);
}

TEST_F(FontInstaller, TheSweepRemovesOnlyGenuineUnreferencedProductFiles) {
  fs::create_directories(places_.folder);
  // Ours and unused: a stale copy under its hash name and a shipped copy
  // under a name no value names once the install has moved on.
  const std::string staleBytes = "an older build of ours";
  const std::string stale = HashSuffixedName(kBold, HashText(Fnv1a(kFnvOffset, staleBytes)));
  WriteTextFile(InFolder(stale), staleBytes);
  // Not ours: a wrong hash, a foreign name, a known name with foreign bytes.
  WriteTextFile(InFolder("SUIT-Variable_bold.00000000.ttf"), "forged");
  fs::copy_file(Shipped(kRegular), InFolder("Other.ttf"));
  // Ours, but another program's value names it.
  const std::string kept = HashSuffixedName(kRegular, HashText(Fnv1a(kFnvOffset, std::string("kept"))));
  WriteTextFile(InFolder(kept), "kept");
  ASSERT_TRUE(platform::FontRegistry(places_.registryFile).SetValue("Someone Else", places_.folder + "//" + kept));

  ASSERT_TRUE(Install());
  EXPECT_FALSE(fs::exists(InFolder(stale)));
  EXPECT_TRUE(fs::exists(InFolder("SUIT-Variable_bold.00000000.ttf")));
  EXPECT_TRUE(fs::exists(InFolder("Other.ttf")));
  EXPECT_TRUE(fs::exists(InFolder(kept)));
  EXPECT_EQ(platform::FontRegistry(places_.registryFile).GetValue("someone else").value_or(""),
            places_.folder + "//" + kept);
}

TEST_F(FontInstaller, AnOlderRegistrationsCopyGoesWhenOursAndUnused) {
  fs::create_directories(places_.folder);
  const std::string oldBytes = "our previous build";
  const std::string old = HashSuffixedName(kRegular, HashText(Fnv1a(kFnvOffset, oldBytes)));
  WriteTextFile(InFolder(old), oldBytes);
  platform::FontRegistry registry(places_.registryFile);
  ASSERT_TRUE(registry.SetValue(ProductValueName(kRegular), InFolder(old)));
  ASSERT_TRUE(Install());
  EXPECT_EQ(Registered(kRegular).value_or(""), InFolder(kRegular));
  EXPECT_FALSE(fs::exists(InFolder(old)));

  // A registration elsewhere: the value moves, the file outside stays.
  const std::string outside = home_.Join("outside.ttf");
  WriteTextFile(outside, "outside");
  ASSERT_TRUE(registry.SetValue(ProductValueName(kBold), outside));
  ASSERT_TRUE(Install());
  EXPECT_EQ(Registered(kBold).value_or(""), InFolder(kBold));
  EXPECT_EQ(ReadTextFile(outside), "outside");
}

TEST_F(FontInstaller, RemovalTakesOursAndLeavesForeignValuesAndFiles) {
  ASSERT_TRUE(Install());
  platform::FontRegistry registry(places_.registryFile);
  WriteTextFile(InFolder("Other.ttf"), "other font");
  ASSERT_TRUE(registry.SetValue("Other Font (TrueType)", InFolder("Other.ttf")));
  // An older installation's face value on a known build: ours.
  const auto& known = KnownFontTable().front();
  ASSERT_TRUE(registry.DeleteValue(ProductValueName(known.file)));
  ASSERT_TRUE(registry.SetValue(std::string(known.olderFaceName) + " (TrueType)", InFolder(std::string(known.file))));
  // The same face name on bytes that are not a known build: not ours.
  const auto& other = KnownFontTable().back();
  ASSERT_TRUE(registry.DeleteValue(ProductValueName(other.file)));
  WriteTextFile(InFolder(std::string(other.file)), "someone's own build");
  ASSERT_TRUE(registry.SetValue(std::string(other.olderFaceName) + " (TrueType)", InFolder(std::string(other.file))));
  // A value of ours pointing outside the folder: the value goes, the file stays.
  const std::string outside = home_.Join("outside.ttf");
  fs::copy_file(Shipped(kBold), outside);
  ASSERT_TRUE(registry.SetValue(ProductValueName(kBold), outside));
  changes_ = 0;

  Remove();
  EXPECT_EQ(changes_, 1);
  const std::vector<platform::FontRegistryValue> left = registry.ReadValues();
  std::set<std::string> leftNames;
  for (const auto& value : left) leftNames.insert(value.name);
  EXPECT_EQ(leftNames, (std::set<std::string>{"Other Font (TrueType)",
                                              std::string(other.olderFaceName) + " (TrueType)"}));
  EXPECT_EQ(FolderNames(), (std::set<std::string>{"Other.ttf", std::string(other.file)}));
  EXPECT_EQ(ReadTextFile(InFolder(std::string(other.file))), "someone's own build");
  EXPECT_TRUE(fs::exists(outside));

  changes_ = 0;
  Remove();
  EXPECT_EQ(changes_, 0) << "nothing left of ours";
}

TEST_F(FontInstaller, ACorruptOrHugeRegistrationFileIsReplacedAndNothingForeignIsLost) {
  fs::create_directories(home_.Join("data/TALVEK"));
  WriteTextFile(places_.registryFile, "{\"broken\": ");
  ASSERT_TRUE(Install());
  EXPECT_EQ(platform::FontRegistry(places_.registryFile).ReadValues().size(), kFontFileTable.size());

  WriteTextFile(places_.registryFile, "{\"x\": \"" + std::string(platform::kMaxFontRegistryBytes, 'x') + "\"}");
  WriteTextFile(InFolder("Other.ttf"), "other");
  EXPECT_TRUE(Install()) << "read as no values: every font is registered again";
  EXPECT_EQ(platform::FontRegistry(places_.registryFile).ReadValues().size(), kFontFileTable.size());
  EXPECT_EQ(FolderNames().size(), kFontFileTable.size() + 1) << "the copies are reused, none deleted";
  EXPECT_TRUE(fs::exists(InFolder("Other.ttf")));
}

TEST_F(FontInstaller, MissingOrDamagedShippedFilesAreSkippedOrCopiedAsTheyAre) {
  fs::remove(Shipped(kRegular));
  WriteTextFile(Shipped(kBold), "truncated");
  fs::remove(Shipped("NotoSansJP-VF.ttf"));
  fs::create_directory(Shipped("NotoSansJP-VF.ttf"));
  ASSERT_TRUE(Install());
  EXPECT_EQ(added_.size(), kFontFileTable.size() - 2);
  EXPECT_FALSE(Registered(kRegular));
  EXPECT_FALSE(Registered("NotoSansJP-VF.ttf"));
  EXPECT_EQ(ReadTextFile(InFolder(kBold)), "truncated");
  Remove();
  EXPECT_TRUE(FolderNames().empty()) << "the copy of the shipped bytes is ours";
}

TEST_F(FontInstaller, AnUnwritableFolderInstallsNothingAndRemovesNothing) {
  fs::create_directories(places_.folder);
  fs::create_directories(home_.Join("data/TALVEK"));
  WriteTextFile(InFolder("Other.ttf"), "other");
  testing::HandToUnprivilegedUser(home_.path());
  testing::HandToUnprivilegedUser(exeDir_.path());
  ASSERT_EQ(::chmod(places_.folder.c_str(), 0555), 0);
  const std::string outcome = testing::RunUnprivileged([&]() -> std::string {
    if (InstallFontsInto(places_, exeDir_.path(), nullptr)) return "install reported success";
    if (!platform::FontRegistry(places_.registryFile).ReadValues().empty()) return "values registered";
    if (FolderNames() != std::set<std::string>{"Other.ttf"}) return "the folder changed";
    RemoveFontsFrom(places_, exeDir_.path(), nullptr);
    if (FolderNames() != std::set<std::string>{"Other.ttf"}) return "removal changed the folder";
    return "";
  });
  EXPECT_EQ(outcome, "");
  ::chmod(places_.folder.c_str(), 0755);
}

TEST_F(FontInstaller, AnUnwritableRegistrationFileLeavesNoUnregisteredCopyBehind) {
  fs::create_directories(home_.Join("data/TALVEK"));
  testing::HandToUnprivilegedUser(home_.path());
  testing::HandToUnprivilegedUser(exeDir_.path());
  ASSERT_EQ(::chmod(home_.Join("data/TALVEK").c_str(), 0555), 0);
  const std::string outcome = testing::RunUnprivileged([&]() -> std::string {
    if (InstallFontsInto(places_, exeDir_.path(), nullptr)) return "install reported success";
    if (!FolderNames().empty()) return "copies left that no value names";
    return "";
  });
  EXPECT_EQ(outcome, "");
  ::chmod(home_.Join("data/TALVEK").c_str(), 0700);
}

TEST(UserFontPlaces, FollowTheDataFolder) {
  const std::string data = std::getenv("XDG_DATA_HOME");  // set for every test
  const auto places = UserFontPlaces();
  ASSERT_TRUE(places);
  EXPECT_EQ(places->folder, data + "/fonts");
  EXPECT_EQ(places->registryFile, data + "/TALVEK/fonts.json");
  EXPECT_EQ(UserFontsFolder(), data + "/fonts");
}

}  // namespace
}  // namespace VirelantDesktop::fonts
