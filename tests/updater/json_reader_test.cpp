#include "updater/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace VirelantDesktop::updater {
namespace {

using namespace std::literals;

bool Rejected(std::string_view text) {
  try {
    ParseJson(text);
  } catch (const JsonError& error) {
    return std::string(error.what()) == "json";
  }
  return false;
}

std::string StringOf(std::string_view text) {
  const JsonValue value = ParseJson(text);
  EXPECT_NE(value.AsString(), nullptr) << text;
  return value.AsString() ? *value.AsString() : "<not a string>";
}

std::string Nested(int depth, std::string_view inner = "") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

TEST(JsonReaderTest, ReadsADocumentWithMembersInOrder) {
  const JsonValue value = ParseJson(R"( {"z": [true, false, null], "a": {"n": -12.5e1}, "s": "x"} )");
  const JsonObject* members = value.AsObject();
  ASSERT_NE(members, nullptr);
  ASSERT_EQ(members->size(), 3u);
  EXPECT_EQ((*members)[0].first, "z");
  EXPECT_EQ((*members)[1].first, "a");
  EXPECT_EQ(*value.Find("z"), JsonValue::Array({JsonValue::Boolean(true), JsonValue::Boolean(false), JsonValue()}));
  const JsonNumber* n = value.Find("a")->Find("n")->AsNumber();
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->text, "-12.5e1");
  EXPECT_EQ(n->value, -125.0);
  EXPECT_EQ(value.Find("missing"), nullptr);
  EXPECT_EQ(value.Find("s")->Find("x"), nullptr);
  EXPECT_EQ(value.Find("s")->AsBoolean(), std::nullopt);
}

TEST(JsonReaderTest, NumbersFollowTheStrictGrammar) {
  for (const char* good :
       {"0", "-0", "1E+2", "1e-2", "0.5", "-0.0e0", "123456789012345678901234567890", "1e-400", "1000e-330"}) {
    const JsonValue value = ParseJson(good);
    ASSERT_NE(value.AsNumber(), nullptr) << good;
    EXPECT_EQ(value.AsNumber()->text, good);
  }
  EXPECT_EQ(ParseJson("1E+2").AsNumber()->value, 100.0);
  EXPECT_TRUE(std::signbit(ParseJson("-0").AsNumber()->value));
  EXPECT_TRUE(std::signbit(ParseJson("-1e-400").AsNumber()->value));
  EXPECT_EQ(ParseJson("1.7976931348623157e308").AsNumber()->value, 1.7976931348623157e308);
  for (const char* bad : {"01", "-01", "-", "1.", ".5", "1e", "1e+", "+1", "1.e5", "0x10", "- 1", "NaN", "Infinity",
                          "1e400", "-1e400", "0.001e312", "1.7976931348623159e308", "[1,]"}) {
    EXPECT_TRUE(Rejected(bad)) << bad;
  }
}

TEST(JsonReaderTest, DecodesEscapesAndSurrogatePairs) {
  EXPECT_EQ(StringOf(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(StringOf(R"("\u0041\u00e9\u20AC\u0000")"), "A\xC3\xA9\xE2\x82\xAC\0"s);
  EXPECT_EQ(StringOf(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(StringOf(R"("\uDBFF\uDFFF")"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(StringOf("\"\xF0\x9F\x98\x80 \x7F\""), "\xF0\x9F\x98\x80 \x7F");
  for (const char* bad : {R"("\ud83d")", R"("\ud83dx")", R"("\ud83d\n")", R"("\ud83d\u0041")", R"("\ud83d\ud83d")",
                          R"("\ude00")", R"("\ude00\ud83d")", R"("\u12")", R"("\u12G4")", R"("\x")", R"("\U0041")",
                          R"("\)", "\"abc"}) {
    EXPECT_TRUE(Rejected(bad)) << bad;
  }
}

TEST(JsonReaderTest, RejectsControlCharactersAndInvalidUtf8) {
  EXPECT_TRUE(Rejected("\"\x01\""));
  EXPECT_TRUE(Rejected("\"a\nb\""));
  EXPECT_TRUE(Rejected("\"\x1F\""));
  EXPECT_TRUE(Rejected("\"\0\""s));
  for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",  // overlong
                          "\xED\xA0\x80", "\xED\xBF\xBF",                             // surrogates
                          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",             // above U+10FFFF
                          "\x80", "\xC3", "\xE2\x82", "\xC3\x41"}) {                  // broken sequences
    EXPECT_TRUE(Rejected("\""s + bad + "\"")) << bad;
  }
  EXPECT_EQ(StringOf("\"\xED\x9F\xBF\xEE\x80\x80\""), "\xED\x9F\xBF\xEE\x80\x80");  // either side of the surrogates
}

TEST(JsonReaderTest, NestingLimitIsThirtyTwoContainers) {
  EXPECT_NO_THROW(ParseJson(Nested(kMaxJsonDepth, "1")));
  EXPECT_NO_THROW(ParseJson(Nested(kMaxJsonDepth - 2, R"({"k":{"x":1}})")));
  EXPECT_TRUE(Rejected(Nested(kMaxJsonDepth + 1)));
  EXPECT_TRUE(Rejected(Nested(kMaxJsonDepth - 1, R"({"k":{}})")));
  EXPECT_TRUE(Rejected(Nested(kMaxJsonDepth - 1, "[{}]")));
  EXPECT_TRUE(Rejected(Nested(100000)));  // deep hostile input fails without deep recursion
}

TEST(JsonReaderTest, DuplicateKeysAreErrorsAfterDecoding) {
  EXPECT_TRUE(Rejected(R"({"a":1,"a":2})"));
  EXPECT_TRUE(Rejected(R"({"a":1,"b":2,"\u0061":3})"));
  EXPECT_TRUE(Rejected(R"({"\ud83d\ude00":1,"😀":2})"));
  EXPECT_TRUE(Rejected(R"({"x":{"k":1,"k":1}})"));
  EXPECT_NO_THROW(ParseJson(R"({"a":{"a":1},"A":2,"a\u0000":3,"":4})"));
}

TEST(JsonReaderTest, DocumentFramingIsStrict) {
  EXPECT_EQ(ParseJson("\xEF\xBB\xBF true"), JsonValue::Boolean(true));
  EXPECT_EQ(ParseJson(" \t\r\n[ 1 , \"a\" ] \n"),
            JsonValue::Array({JsonValue::Number("1", 1), JsonValue::String("a")}));
  const std::initializer_list<std::string_view> bad = {
      "", " ", "\xEF\xBB\xBF", " \xEF\xBB\xBF{}", "\xEF\xBB\xBF\xEF\xBB\xBF{}", "{} {}", "1 2", "true,", "nul",
      "truex", "{}\f", "\v1", "[1]\0"sv, "{\"a\"}", "{\"a\":}", "{a:1}", "{\"a\":1,}", "[", "{\"a\":1", "\xC2\xA0" "1"};
  for (const std::string_view text : bad) {
    EXPECT_TRUE(Rejected(text)) << text;
  }
}

}  // namespace
}  // namespace VirelantDesktop::updater
