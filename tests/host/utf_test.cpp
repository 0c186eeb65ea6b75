#include "host/utf.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::host {
namespace {

TEST(Utf8ToUtf16, WellFormedInput) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC3\xBC", u"\u00FC"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xEF\xBF\xBD", u"\uFFFD"},
  };
  for (const auto& [utf8, utf16] : cases) {
    SCOPED_TRACE(utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  }
}

TEST(Utf8ToUtf16, IllFormedInputBecomesOneReplacementPerMaximalSubpart) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"\x80", u"\uFFFD"},                      // lone continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong, C0 never starts a sequence
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE2\x82", u"\uFFFD"},                  // truncated at the end
      {"\xE2\x82x", u"\uFFFDx"},                // truncated in the middle
      {"\xF0\x9F\x98", u"\uFFFD"},
      {"\xFF", u"\uFFFD"},
      {"a\xC3", u"a\uFFFD"},
  };
  for (const auto& [utf8, utf16] : cases) {
    SCOPED_TRACE(testing::PrintToString(utf8));
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  }
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf16ToUtf8(u"\xD800"), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800\xD800\xDC00"), "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

}  // namespace
}  // namespace VirelantDesktop::host
