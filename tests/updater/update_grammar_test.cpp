#include "updater/update_grammar.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace VirelantDesktop::updater {
namespace {

TEST(UpdateGrammarTest, TimestampsGiveEpochMilliseconds) {
  EXPECT_EQ(ParseTimestampMs("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseTimestampMs("2000-01-01T00:00:00Z"), 946684800000);
  EXPECT_EQ(ParseTimestampMs("2020-01-01T00:00:00Z"), 1577836800000);
  EXPECT_EQ(ParseTimestampMs("2026-11-05T10:00:00Z"), 1793872800000);
  EXPECT_EQ(ParseTimestampMs("2026-11-05T10:00:00.123Z"), 1793872800123);
  EXPECT_EQ(ParseTimestampMs("1969-12-31T23:59:59.999Z"), -1);
  EXPECT_EQ(ParseTimestampMs("0000-01-01T00:00:00Z"), -62167219200000);
  EXPECT_EQ(ParseTimestampMs("9999-12-31T23:59:59Z"), 253402300799000);
  // A fraction of a second, not a count of milliseconds.
  EXPECT_EQ(ParseTimestampMs("1970-01-01T00:00:00.5Z"), 500);
  EXPECT_EQ(ParseTimestampMs("1970-01-01T00:00:00.05Z"), 50);
  EXPECT_EQ(ParseTimestampMs("1970-01-01T00:00:00.000Z"), 0);
}

TEST(UpdateGrammarTest, LeapDaysFollowTheGregorianRule) {
  EXPECT_FALSE(ParseTimestampMs("2026-02-29T00:00:00Z"));
  EXPECT_TRUE(ParseTimestampMs("2028-02-29T00:00:00Z"));
  EXPECT_FALSE(ParseTimestampMs("2100-02-29T00:00:00Z"));
  EXPECT_EQ(ParseTimestampMs("2000-02-29T00:00:00Z"), 951782400000);
  EXPECT_TRUE(ParseTimestampMs("0000-02-29T00:00:00Z"));
  EXPECT_EQ(*ParseTimestampMs("2000-03-01T00:00:00Z") - *ParseTimestampMs("2000-02-28T00:00:00Z"),
            2 * 86400000);
}

TEST(UpdateGrammarTest, TimestampsOutsideTheGrammarAreRefused) {
  for (const char* text : {
           "2026-11-05T10:00:00.Z", "2026-11-05T10:00:00.1234Z", "2026-11-05T10:00:00+00:00",
           "2026-11-05t10:00:00Z", "2026-11-05T10:00:00z", "2026-11-05T10:00:00", "",
           "2026-11-05 10:00:00Z", "+026-11-05T10:00:00Z", "2026-11-05T10:00:0 Z",
           "2026-11-05T10:00:00.1aZ", "2026-11-05T10:00:00.12", "2026-11-05T10:00:00ZZ",
           "2026-00-05T10:00:00Z", "2026-13-05T10:00:00Z", "2026-11-00T10:00:00Z",
           "2026-11-31T10:00:00Z", "2026-12-32T10:00:00Z", "2026-11-05T24:00:00Z",
           "2026-11-05T10:60:00Z", "2026-11-05T10:00:60Z"}) {
    EXPECT_FALSE(ParseTimestampMs(text)) << text;
  }
}

TEST(UpdateGrammarTest, ParsesVersions) {
  const auto version = ParseSemVer("10.0.999999999999999-rc.1-x.0+build.007");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->major, 10u);
  EXPECT_EQ(version->minor, 0u);
  EXPECT_EQ(version->patch, 999999999999999u);
  EXPECT_EQ(version->pre, (std::vector<std::string>{"rc", "1-x", "0"}));
  EXPECT_TRUE(ParseSemVer("0.0.0-0a.-.00x"));
  for (const char* text : {"01.2.3", "1.02.3", "1.2.03", "1.2", "1.2.3.4", "1..3", "", "1.2.3-",
                           "1.2.3+", "1234567890123456.0.0", "1.2.3-01", "1.2.3-a..b", "1.2.3-.a",
                           "1.2.3+a_b", "1.2.3+a..b", "1.2.3+a+b", "1.2.3-a_b", "v1.2.3", " 1.2.3",
                           "1.2.-3", "1.2.3-\xc3\xa9"}) {
    EXPECT_FALSE(ParseSemVer(text)) << text;
  }
}

TEST(UpdateGrammarTest, ComparesByPrecedence) {
  EXPECT_EQ(CompareVersions("1.2.3", "1.2.3-rc.1"), 1);
  EXPECT_EQ(CompareVersions("1.2.3-rc.2", "1.2.3-rc.10"), -1);
  EXPECT_EQ(CompareVersions("1.2.3-alpha", "1.2.3-1"), 1);
  EXPECT_EQ(CompareVersions("1.2.3+build.5", "1.2.3"), 0);
  EXPECT_EQ(CompareVersions("1.2.3-rc+a", "1.2.3-rc+b"), 0);
  EXPECT_EQ(CompareVersions("1.10.0", "1.9.9"), 1);
  EXPECT_EQ(CompareVersions("2.0.0-a", "1.99.99"), 1);
  EXPECT_EQ(CompareVersions("1.0.0-A", "1.0.0-a"), -1);
  // Digit strings far beyond 64 bits still compare by value.
  EXPECT_EQ(CompareVersions("1.0.0-123456789012345678901234567890", "1.0.0-99999999999999999999"), 1);
  EXPECT_EQ(CompareVersions("1.0.0-1234567890123456789012345678901", "1.0.0-1234567890123456789012345678900"), 1);
  EXPECT_EQ(CompareVersions("1.2.3", "1.2"), std::nullopt);
  EXPECT_EQ(CompareVersions("x", "1.2.3"), std::nullopt);

  const char* chain[] = {"1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta",
                         "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0"};
  for (size_t i = 0; i < std::size(chain); ++i) {
    for (size_t j = 0; j < std::size(chain); ++j) {
      EXPECT_EQ(CompareVersions(chain[i], chain[j]), i < j ? -1 : i > j ? 1 : 0)
          << chain[i] << " vs " << chain[j];
    }
  }
}

}  // namespace
}  // namespace VirelantDesktop::updater
