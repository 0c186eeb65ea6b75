#include "bridge/arg_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace VirelantDesktop {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Int64FromNumber, TruncatesTowardZeroWithinRange) {
  const std::pair<double, int64_t> cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {3.9, 3},
      {-3.9, -3},
      {9007199254740992.0, 9007199254740992LL},
      {-9223372036854775808.0, std::numeric_limits<int64_t>::min()},
      {9223372036854775808.0, 0},  // 2^63: one past the range
      {1e300, 0},
      {-1e300, 0},
      {kNaN, 0},
      {kInf, 0},
      {-kInf, 0},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(Int64FromNumber(input), expected);
  }
}

TEST(JsonFromNumber, IntegralWithinSafeRangeBecomesInteger) {
  EXPECT_TRUE(JsonFromNumber(5.0).is_number_integer());
  EXPECT_EQ(JsonFromNumber(-0.0), JSValue(0));
  EXPECT_TRUE(JsonFromNumber(kMaxSafeInteger).is_number_integer());
  EXPECT_TRUE(JsonFromNumber(-kMaxSafeInteger).is_number_integer());
  EXPECT_TRUE(JsonFromNumber(kMaxSafeInteger + 1).is_number_float());
  EXPECT_TRUE(JsonFromNumber(1.5).is_number_float());
  EXPECT_TRUE(std::isnan(JsonFromNumber(kNaN).get<double>()));
  EXPECT_TRUE(JsonFromNumber(kInf).is_number_float());
}

struct ConvertCase {
  const char* what;
  ArgType type;
  std::optional<JSValue> raw;  // nullopt: undefined
  JSValue expected;
};

TEST(ConvertArg, EachDeclaredTypeByTheRule) {
  const ConvertCase cases[] = {
      {"string", ArgType::String, JSValue("abc"), "abc"},
      {"number as string", ArgType::String, JSValue(5), ""},
      {"null as string", ArgType::String, JSValue(nullptr), ""},
      {"undefined as string", ArgType::String, std::nullopt, ""},
      {"object as string", ArgType::String, JSValue::object(), ""},
      {"number", ArgType::Number, JSValue(1.5), 1.5},
      {"integer as number", ArgType::Number, JSValue(7), 7.0},
      {"int64 truncated", ArgType::Int64, JSValue(-3.9), -3},
      {"integer int64", ArgType::Int64, JSValue(42), 42},
      {"string as int64", ArgType::Int64, JSValue("7"), 0},
      {"undefined int64", ArgType::Int64, std::nullopt, 0},
      {"bool", ArgType::Boolean, JSValue(true), true},
      {"number as bool", ArgType::Boolean, JSValue(1), false},
      {"string as bool", ArgType::Boolean, JSValue("true"), false},
      {"strings", ArgType::StringArray, JSValue::array({"a", 1, nullptr, "b"}), JSValue::array({"a", "", "", "b"})},
      {"string as strings", ArgType::StringArray, JSValue("a"), JSValue::array()},
      {"undefined as strings", ArgType::StringArray, std::nullopt, JSValue::array()},
      {"undefined as any", ArgType::Any, std::nullopt, nullptr},
      {"null as any", ArgType::Any, JSValue(nullptr), nullptr},
      {"integral double as any", ArgType::Any, JSValue(2.0), 2},
      {"nested any", ArgType::Any, JSValue{{"b", JSValue::array({1.0, 2.5})}}, JSValue{{"b", JSValue::array({1, 2.5})}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    JSValue converted = ConvertArg(c.raw ? &*c.raw : nullptr, c.type);
    EXPECT_EQ(converted, c.expected);
    EXPECT_EQ(converted.type(), c.expected.type());
  }
}

TEST(ConvertArg, NumberOfWrongTypeIsNaN) {
  for (const JSValue& raw : {JSValue("5"), JSValue(true), JSValue(nullptr), JSValue::array()}) {
    SCOPED_TRACE(raw.dump());
    EXPECT_TRUE(std::isnan(ConvertArg(&raw, ArgType::Number).get<double>()));
  }
  EXPECT_TRUE(std::isnan(ConvertArg(nullptr, ArgType::Number).get<double>()));
}

TEST(ConvertArgs, MissingAreUndefinedAndExtraIgnored) {
  const std::vector<ArgType> types = {ArgType::String, ArgType::Boolean};
  EXPECT_EQ(ConvertArgs({}, types), (MethodArgs{"", false}));
  EXPECT_EQ(ConvertArgs({"x", true, "extra", 5}, types), (MethodArgs{"x", true}));
  EXPECT_TRUE(ConvertArgs({"x"}, {}).empty());
}

}  // namespace
}  // namespace VirelantDesktop
