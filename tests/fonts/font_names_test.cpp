// The rules on names and paths, and the byte-level font file checks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fonts/font_files.h"
#include "fonts/font_names.h"
#include "fonts/font_tables.h"
#include "platform/confined_file.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::fonts {
namespace {

using platform::FontRegistryValue;
using platform::UniqueFd;
using testing::TempDir;
using testing::WriteTextFile;

UniqueFd Open(const std::string& path) { return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

void SetModified(const std::string& path, long seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(FontNames, ProductNamesAreTheShippedOnesAndTheirHashSuffixedCopies) {
  for (const auto& row : kFontFileTable) EXPECT_TRUE(IsProductFontName(row.file)) << row.file;
  EXPECT_TRUE(IsProductFontName("SUIT-Variable.0a1B2c3D.ttf"));
  EXPECT_TRUE(IsProductFontName("NotoSansJP-VF_bold.ffffffff.ttf"));
  for (const std::string_view name :
       {"suit-variable.ttf", "SUIT-Variable.TTF", "SUIT-Variable.0a1b2c3.ttf", "SUIT-Variable.0a1b2c3d4.ttf",
        "SUIT-Variable.0a1b2c3g.ttf", "SUIT-Variable_0a1b2c3d.ttf", "SUIT-Variable.0a1b2c3d.otf", "Other.ttf",
        "SUIT-Variable", "", ".ttf", "SUIT-Variable.ttf/", "x/SUIT-Variable.ttf"}) {
    EXPECT_FALSE(IsProductFontName(name)) << name;
  }
  EXPECT_EQ(HashSuffixedName("SUIT-Variable_bold.ttf", "00c0ffee"), "SUIT-Variable_bold.00c0ffee.ttf");
  EXPECT_TRUE(IsProductFontName(HashSuffixedName("NotoSansJP-VF.ttf", "12345678")));
}

TEST(FontNames, ValueNamesFollowTheShippedFiles) {
  EXPECT_EQ(ProductValueName("SUIT-Variable_medium.ttf"), "TALVEK SUIT-Variable_medium (TrueType)");
  EXPECT_EQ(ProductValueName("NotoSansJP-VF.ttf"), "TALVEK NotoSansJP-VF (TrueType)");
}

TEST(FontNames, PathKeysFoldSlashesAndDotsButNotDotDotOrCase) {
  EXPECT_EQ(FontPathKey("/home//u/./fonts/a.ttf"), "/home/u/fonts/a.ttf");
  EXPECT_EQ(FontPathKey("/home/u/fonts/"), "/home/u/fonts");
  EXPECT_EQ(FontPathKey("///"), "/");
  EXPECT_EQ(FontPathKey("rel/./a"), "rel/a");
  EXPECT_EQ(FontPathKey("/a/../b"), "/a/../b");
  EXPECT_NE(FontPathKey("/A/b"), FontPathKey("/a/b"));
}

TEST(FontNames, ANameDirectlyInAFolderHasNoFurtherComponent) {
  EXPECT_EQ(NameDirectlyIn("/f", "/f/a.ttf").value_or(""), "a.ttf");
  EXPECT_FALSE(NameDirectlyIn("/f", "/f/sub/a.ttf"));
  EXPECT_FALSE(NameDirectlyIn("/f", "/fonts/a.ttf"));
  EXPECT_FALSE(NameDirectlyIn("/f", "/f/"));
  EXPECT_FALSE(NameDirectlyIn("/f", "/f/.."));
  EXPECT_FALSE(NameDirectlyIn("/f", "/f/."));
  EXPECT_FALSE(NameDirectlyIn("", "/a.ttf"));
  EXPECT_FALSE(NameDirectlyIn("/f", "/g/../f/a.ttf")) << "no climbing back in through another folder";
}

TEST(FontNames, AReferenceCountsByPathOrKeyAndSkipsTheExemptNames) {
  const std::vector<FontRegistryValue> values = {{"Ours (TrueType)", "/f/a.ttf"}, {"Other", "/f//./b.ttf"}};
  EXPECT_TRUE(IsReferencedByOtherValue(values, {}, "/f/a.ttf"));
  EXPECT_FALSE(IsReferencedByOtherValue(values, {"OURS (truetype)"}, "/f/a.ttf"));
  EXPECT_TRUE(IsReferencedByOtherValue(values, {"Ours (TrueType)"}, "/f/b.ttf")) << "matched by its key";
  EXPECT_FALSE(IsReferencedByOtherValue(values, {}, "/F/a.ttf"));
  EXPECT_FALSE(IsReferencedByOtherValue({}, {}, "/f/a.ttf"));
}

TEST(FontNames, AFamilyIsOursWhenOneOfItsFilesIsAProductFileInTheFolder) {
  EXPECT_TRUE(AnyProductFontIn({"/usr/share/fonts/x.ttf", "/h/fonts//SUIT-Variable.ttf"}, "/h/fonts/"));
  EXPECT_TRUE(AnyProductFontIn({"/h/fonts/NotoSansJP-VF.0badf00d.ttf"}, "/h/fonts"));
  EXPECT_FALSE(AnyProductFontIn({"/usr/share/fonts/SUIT-Variable.ttf"}, "/h/fonts"));
  EXPECT_FALSE(AnyProductFontIn({"/h/fonts/sub/SUIT-Variable.ttf", "/h/fonts/Other.ttf"}, "/h/fonts"));
  EXPECT_FALSE(AnyProductFontIn({}, "/h/fonts"));
}

TEST(FontFiles, FnvOneAThirtyTwoMatchesItsReferenceVectors) {
  EXPECT_EQ(HashText(Fnv1a(kFnvOffset, "")), "811c9dc5");
  EXPECT_EQ(HashText(Fnv1a(kFnvOffset, "a")), "e40c292c");
  EXPECT_EQ(HashText(Fnv1a(kFnvOffset, "foobar")), "bf9cf968");
  EXPECT_EQ(Fnv1a(Fnv1a(kFnvOffset, "foo"), "bar"), Fnv1a(kFnvOffset, "foobar")) << "it continues from a state";
  EXPECT_EQ(HashText(0x0000abcdu), "0000abcd");
}

TEST(FontFiles, TheFileHashCoversTheWholeFileInBlocks) {
  TempDir dir;
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
  WriteTextFile(dir.Join("big"), big);
  EXPECT_EQ(FontFileHash(Open(dir.Join("big"))), HashText(Fnv1a(kFnvOffset, big)));
  EXPECT_EQ(FontFileHash(UniqueFd()), "811c9dc5") << "an unreadable file hashes as nothing";
}

TEST(FontFiles, TheHeaderIsTheOffsetTableAndItsRecords) {
  EXPECT_EQ(FontHeaderLength(std::string("\0\1\0\0\0\x11", 6)), 12u + 16u * 17u);
  EXPECT_EQ(FontHeaderLength(std::string("\0\1\0\0\x01\x00", 6)), 12u + 16u * 256u);
  EXPECT_EQ(FontHeaderLength("short"), 0u);
}

TEST(FontFiles, CopiesCompareByHeaderWithEqualTimesAndByContentOtherwise) {
  TempDir dir;
  // A header of two table records (44 bytes), then a body.
  const std::string header = std::string("\0\1\0\0\0\2", 6) + std::string(38, 'h');
  const std::string a = header + "body-one";
  const std::string b = header + "body-two";  // same size and header, other body
  WriteTextFile(dir.Join("a"), a);
  WriteTextFile(dir.Join("b"), b);
  WriteTextFile(dir.Join("a2"), a);
  SetModified(dir.Join("a"), 1000);
  SetModified(dir.Join("b"), 1000);
  SetModified(dir.Join("a2"), 2000);
  EXPECT_TRUE(FontFilesEqual(Open(dir.Join("a")), Open(dir.Join("b")))) << "same time: the header decides";
  EXPECT_FALSE(FileContentsEqual(Open(dir.Join("a")), Open(dir.Join("b"))));
  EXPECT_TRUE(FontFilesEqual(Open(dir.Join("a")), Open(dir.Join("a2"))));
  SetModified(dir.Join("b"), 3000);
  EXPECT_FALSE(FontFilesEqual(Open(dir.Join("a")), Open(dir.Join("b")))) << "other time: the contents decide";

  WriteTextFile(dir.Join("short"), std::string("\0\1\0\0\0\x40", 6) + std::string(10, 'x'));
  WriteTextFile(dir.Join("short2"), std::string("\0\1\0\0\0\x40", 6) + std::string(10, 'x'));
  SetModified(dir.Join("short"), 1000);
  SetModified(dir.Join("short2"), 1000);
  EXPECT_FALSE(FontFilesEqual(Open(dir.Join("short")), Open(dir.Join("short2"))))
      << "a header that runs past the end is not equal";
  WriteTextFile(dir.Join("longer"), a + "x");
  EXPECT_FALSE(FontFilesEqual(Open(dir.Join("a")), Open(dir.Join("longer"))));
  EXPECT_FALSE(FontFilesEqual(Open(dir.path()), Open(dir.path()))) << "only regular files";
  EXPECT_FALSE(FontFilesEqual(Open(dir.Join("a")), UniqueFd()));
}

class GenuineFontFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(exeDir_.Join("Fonts").c_str(), 0755), 0);
    shipped_ = std::string(TALVEK_FONTS_DIR) + "/SUIT-Variable.ttf";
    std::filesystem::copy_file(shipped_, exeDir_.Join("Fonts/SUIT-Variable.ttf"));
  }
  TempDir exeDir_;
  TempDir folder_;
  std::string shipped_;
};

TEST_F(GenuineFontFile, AShippedNameIsOursWhenItsBytesAreTheShippedOrAKnownBuilds) {
  std::filesystem::copy_file(shipped_, folder_.Join("SUIT-Variable.ttf"));
  EXPECT_TRUE(IsGenuineFontFile(Open(folder_.Join("SUIT-Variable.ttf")), "SUIT-Variable.ttf", exeDir_.path()));
  EXPECT_TRUE(IsGenuineFontFile(Open(folder_.Join("SUIT-Variable.ttf")), "SUIT-Variable.ttf", ""))
      << "a known build's size and hash";

  // A known build of one name is not ours under another shipped name.
  EXPECT_FALSE(IsGenuineFontFile(Open(folder_.Join("SUIT-Variable.ttf")), "SUIT-Variable_bold.ttf", ""));

  WriteTextFile(folder_.Join("SUIT-Variable_bold.ttf"), "another program's font");
  EXPECT_FALSE(IsGenuineFontFile(Open(folder_.Join("SUIT-Variable_bold.ttf")), "SUIT-Variable_bold.ttf",
                                 exeDir_.path()));
  EXPECT_FALSE(IsGenuineFontFile(Open(folder_.path()), "SUIT-Variable.ttf", exeDir_.path())) << "a folder";
}

TEST_F(GenuineFontFile, AnyOtherNameIsOursWhenItEndsInItsOwnHash) {
  const std::string bytes = "whatever bytes";
  const std::string hash = HashText(Fnv1a(kFnvOffset, bytes));
  WriteTextFile(folder_.Join("x"), bytes);
  EXPECT_TRUE(IsGenuineFontFile(Open(folder_.Join("x")), "SUIT-Variable." + hash + ".ttf", ""));
  std::string upper = hash;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(IsGenuineFontFile(Open(folder_.Join("x")), "SUIT-Variable." + upper + ".ttf", ""));
  EXPECT_FALSE(IsGenuineFontFile(Open(folder_.Join("x")), "SUIT-Variable.00000000.ttf", ""));
  EXPECT_FALSE(IsGenuineFontFile(Open(folder_.Join("x")), "a.ttf", ""));
}

}  // namespace
}  // namespace VirelantDesktop::fonts
