#include "platform/font_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

using testing::ReadTextFile;
using testing::TempDir;
using testing::WriteTextFile;

TEST(ParseFontRegistry, ReadsStringMembersInOrderByTheRulesOfTheKey) {
  const std::string text =
      std::string(
          R"({"B": "/f/b.ttf", "a": "/f/a.ttf", "n": 3, "o": {"x": "y"},)") +
      R"("A": "/f/second.ttf", "cut": "/f/c.ttf\u0000tail", "l": ["/f/l.ttf"]})";
  const std::vector<FontRegistryValue> expected = {
      {"B", "/f/b.ttf"}, {"a", "/f/a.ttf"}, {"cut", "/f/c.ttf"}};
  EXPECT_EQ(ParseFontRegistry(text), expected)
      << "non-strings skipped, the first of two names by case, data to NUL";
}

TEST(ParseFontRegistry, OfTwoEqualNamesTheFirstStringCounts) {
  EXPECT_EQ(ParseFontRegistry(R"({"a": "first", "a": "second"})"),
            (std::vector<FontRegistryValue>{{"a", "first"}}));
  EXPECT_EQ(ParseFontRegistry(R"({"a": 1, "a": "x", "A": "y"})"),
            (std::vector<FontRegistryValue>{{"a", "x"}}));
  EXPECT_EQ(ParseFontRegistry(R"({"o": {"a": "inner"}, "a": "outer"})"),
            (std::vector<FontRegistryValue>{{"a", "outer"}}))
      << "members of nested objects are not values";
}

TEST(ParseFontRegistry, AnythingButAJsonObjectHoldsNoValues) {
  for (const std::string text :
       {"", "   ", "[\"a\", \"b\"]", "\"text\"", "{\"a\": \"b\"",
        "{\"a\": \"b\"} trailing", "\xff\xfe{}", "null"}) {
    EXPECT_TRUE(ParseFontRegistry(text).empty()) << text;
  }
  EXPECT_TRUE(ParseFontRegistry(std::string(kMaxFontRegistryBytes + 1, ' ') +
                                "{\"a\": \"b\"}")
                  .empty());
}

TEST(SerializeFontRegistry, RoundTripsAndRefusesWhatJsonCannotHold) {
  const std::vector<FontRegistryValue> values = {
      {"TALVEK Sans (TrueType)", "/home/u/.local/share/fonts/a b.ttf"},
      {"\xed\x95\x9c", "/\"quoted\"\\path\n"}};
  const auto text = SerializeFontRegistry(values);
  ASSERT_TRUE(text);
  EXPECT_EQ(ParseFontRegistry(*text), values);
  EXPECT_FALSE(SerializeFontRegistry({{"bad\xff", "/x"}}));
  EXPECT_FALSE(SerializeFontRegistry({{"name", "/x/\xc0\xaf"}}))
      << "an overlong form is not UTF-8";
  EXPECT_EQ(SerializeFontRegistry({}).value_or(""), "{}\n");
}

TEST(SerializeFontRegistry, WritesWhatTheReaderKeepsAndNothingItWouldRefuse) {
  const auto text = SerializeFontRegistry(
      {{"a", "first"}, {"A", "second"}, {"b", std::string("x\0y", 3)}});
  ASSERT_TRUE(text);
  EXPECT_EQ(ParseFontRegistry(*text),
            (std::vector<FontRegistryValue>{{"a", "first"}, {"b", "x"}}));
  EXPECT_TRUE(SerializeFontRegistry({{"a", "ok"}, {"a", "\xc0\x80"}}))
      << "the dropped duplicate is not checked";

  std::vector<FontRegistryValue> many;
  for (int i = 0; i < 12000; ++i)
    many.push_back({"value " + std::to_string(i), "/" + std::string(90, 'p')});
  EXPECT_FALSE(SerializeFontRegistry(many))
      << "over the size the reader accepts";
}

class FontRegistryFile : public ::testing::Test {
protected:
  TempDir dir_;
  std::string path_ = dir_.Join("TALVEK/fonts.json");
  FontRegistry registry_{path_};
};

TEST_F(FontRegistryFile, SetGetReplaceAndDeleteIgnoringCase) {
  EXPECT_FALSE(registry_.GetValue("x"));
  EXPECT_TRUE(registry_.DeleteValue("x")) << "nothing of that name is left";
  ASSERT_TRUE(registry_.SetValue("Font A", "/f/a.ttf"));
  struct stat info {};
  ASSERT_EQ(::stat(dir_.Join("TALVEK").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u) << "the folder is made private";
  ASSERT_TRUE(registry_.SetValue("Font B", "/f/b.ttf"));
  ASSERT_TRUE(
      registry_.SetValue("FONT a", std::string_view("/f/new.ttf\0rest", 15)));
  const std::vector<FontRegistryValue> expected = {{"Font A", "/f/new.ttf"},
                                                   {"Font B", "/f/b.ttf"}};
  EXPECT_EQ(registry_.ReadValues(), expected)
      << "replaced in place under its first name, data cut at NUL";
  EXPECT_EQ(registry_.GetValue("font b").value_or(""), "/f/b.ttf");

  EXPECT_TRUE(registry_.DeleteValue("font A"));
  EXPECT_EQ(registry_.ReadValues(),
            (std::vector<FontRegistryValue>{{"Font B", "/f/b.ttf"}}));
  EXPECT_FALSE(registry_.SetValue("bad\xff", "/x"));
  EXPECT_EQ(registry_.ReadValues().size(), 1u)
      << "a refused value leaves the file as it was";
}

TEST_F(FontRegistryFile,
       AValueThatWouldMakeTheFileTooLargeIsRefusedAndTheOthersStay) {
  std::vector<FontRegistryValue> many;
  for (int i = 0; i < 100; ++i)
    many.push_back(
        {"value " + std::to_string(i), "/" + std::string(10000, 'p')});
  const auto text = SerializeFontRegistry(many);
  ASSERT_TRUE(text);
  ::mkdir(dir_.Join("TALVEK").c_str(), 0700);
  WriteTextFile(path_, *text);
  bool refused = false;
  for (int i = 0; i < 20 && !refused; ++i)
    refused = !registry_.SetValue("more " + std::to_string(i),
                                  "/" + std::string(10000, 'q'));
  EXPECT_TRUE(refused);
  EXPECT_GE(registry_.ReadValues().size(), 100u) << "the file still reads";
}

TEST_F(FontRegistryFile,
       ACorruptOrHugeFileReadsEmptyAndTheNextChangeReplacesIt) {
  ASSERT_TRUE(registry_.SetValue("keep", "/f/k.ttf"));
  WriteTextFile(path_, "{\"a\": \"/f/a.ttf\", garbage");
  EXPECT_TRUE(registry_.ReadValues().empty());
  ASSERT_TRUE(registry_.SetValue("b", "/f/b.ttf"));
  EXPECT_EQ(registry_.ReadValues(),
            (std::vector<FontRegistryValue>{{"b", "/f/b.ttf"}}));

  std::string huge =
      "{\"a\": \"" + std::string(kMaxFontRegistryBytes, 'x') + "\"}";
  WriteTextFile(path_, huge);
  EXPECT_TRUE(registry_.ReadValues().empty());
  EXPECT_FALSE(registry_.GetValue("a"));
}

TEST_F(FontRegistryFile, ALinkInTheFilesPlaceIsNeitherReadNorWrittenThrough) {
  ::mkdir(dir_.Join("TALVEK").c_str(), 0700);
  const std::string victim = dir_.Join("victim.json");
  WriteTextFile(victim, "{\"a\": \"/f/a.ttf\"}");
  ASSERT_EQ(::symlink(victim.c_str(), path_.c_str()), 0);
  EXPECT_TRUE(registry_.ReadValues().empty());
  ASSERT_TRUE(registry_.SetValue("b", "/f/b.ttf"));
  EXPECT_EQ(ReadTextFile(victim), "{\"a\": \"/f/a.ttf\"}")
      << "the link's target is untouched";
  struct stat info {};
  ASSERT_EQ(::lstat(path_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode)) << "the link was replaced by our file";
}

TEST_F(FontRegistryFile, AFolderInTheFilesPlaceIsNotAValueStore) {
  ASSERT_EQ(::mkdir(dir_.Join("TALVEK").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);
  EXPECT_TRUE(registry_.ReadValues().empty());
  EXPECT_FALSE(registry_.SetValue("a", "/f/a.ttf"));
}

} // namespace
} // namespace VirelantDesktop::platform
