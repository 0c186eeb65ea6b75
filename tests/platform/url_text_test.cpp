#include "platform/url_text.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::platform {
namespace {

TEST(UrlText, PercentEscapes) {
  EXPECT_EQ(PercentDecode("a%2B+b"), "a++b");
  EXPECT_EQ(PercentDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(PercentDecode("%41%6a%00"), std::string("Aj\0", 3));
  EXPECT_TRUE(PercentEscapesWellFormed("a%2fb%41"));
  EXPECT_FALSE(PercentEscapesWellFormed("a%2"));
  EXPECT_FALSE(PercentEscapesWellFormed("%zz"));
}

TEST(UrlText, UnsafeBytesAndUtf8) {
  for (unsigned char c : std::string("\x01 \"<>\\^`{|}\x7F")) EXPECT_TRUE(IsUnsafeUrlByte(c)) << int(c);
  for (unsigned char c : std::string("aZ09-._~%/?#[]@!$&'()*+,;=:")) EXPECT_FALSE(IsUnsafeUrlByte(c)) << c;
  EXPECT_TRUE(IsWellFormedUtf8("caf\xC3\xA9 \xF0\x9F\x8C\x99"));
  EXPECT_EQ(WellFormedUtf8Prefix("ab\xC0\xAF"), 2u) << "overlong";
  EXPECT_EQ(WellFormedUtf8Prefix("a\xED\xA0\x80"), 1u) << "surrogate";
  EXPECT_EQ(WellFormedUtf8Prefix("a\xF4\x90\x80\x80"), 1u) << "above U+10FFFF";
  EXPECT_EQ(WellFormedUtf8Prefix("a\xE2\x82"), 1u) << "cut short";
}

}  // namespace
}  // namespace VirelantDesktop::platform
