#include "render/color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace VirelantDesktop::render {
namespace {

struct ColorCase {
  Props value;
  std::optional<Color> expected;
};

void ExpectAll(const std::vector<ColorCase>& cases) {
  for (const ColorCase& c : cases) {
    EXPECT_EQ(ParseColor(c.value), c.expected) << c.value.dump();
  }
}

TEST(ParseColor, NumbersAreArgbMaskedToThirtyTwoBits) {
  ExpectAll({
      {Props(4294901760u), Color{255, 255, 0, 0}},   // 0xFFFF0000
      {Props(-16776961), Color{255, 0, 0, 255}},     // 0xFF0000FF as signed int32
      {Props(0x8000ff00), Color{128, 0, 255, 0}},
      {Props(0), Color{0, 0, 0, 0}},
      {Props(0x1FF0000FFll), Color{255, 0, 0, 255}},  // bits above 32 dropped
      {Props(4278190080.0), Color{255, 0, 0, 0}},      // integral double
      {Props(1.5), std::nullopt},
      {Props(std::numeric_limits<double>::quiet_NaN()), std::nullopt},
      {Props(std::numeric_limits<double>::infinity()), std::nullopt},
      {Props(1e300), std::nullopt},
  });
}

TEST(ParseColor, CssStrings) {
  ExpectAll({
      {"#f00", Color{255, 255, 0, 0}},
      {"#0f08", Color{0x88, 0, 255, 0}},
      {"#336699", Color{255, 0x33, 0x66, 0x99}},
      {"#33669980", Color{0x80, 0x33, 0x66, 0x99}},
      {"rgb(10, 20, 30)", Color{255, 10, 20, 30}},
      {"rgba(10,20,30,0.5)", Color{128, 10, 20, 30}},
      {"rgb(10 20 30 / 50%)", Color{128, 10, 20, 30}},
      {"rgb(300, -5, 100%)", Color{255, 255, 0, 255}},
      {"transparent", Color{0, 0, 0, 0}},
      {"red", Color{255, 255, 0, 0}},
      {"RebeccaPurple", Color{255, 0x66, 0x33, 0x99}},
      {"  white ", Color{255, 255, 255, 255}},
  });
}

TEST(ParseColor, AnythingElseIsUnset) {
  ExpectAll({
      {"#ggg", std::nullopt},
      {"#12345", std::nullopt},
      {"rgb(1,2)", std::nullopt},
      {"rgb(1,2,3", std::nullopt},
      {"rgba(1,2,3,x)", std::nullopt},
      {"notacolor", std::nullopt},
      {"", std::nullopt},
      {Props(nullptr), std::nullopt},
      {Props(true), std::nullopt},
      {Props::object({{"semantic", {"labelColor"}}}), std::nullopt},
      {Props::array({1, 2, 3}), std::nullopt},
  });
}

}  // namespace
}  // namespace VirelantDesktop::render
