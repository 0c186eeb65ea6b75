#include "app/window/window_metrics.h"

#include <gtest/gtest.h>

#include <climits>

namespace VirelantDesktop::window {
namespace {

TEST(MulDiv, RoundsHalfAwayFromZeroLikeWin32) {
  struct Case {
    int number, numerator, denominator, expected;
  };
  const Case cases[] = {
      {430, 144, 96, 645},   {932, 144, 96, 1398}, {640, 144, 96, 960},  {430, 120, 96, 538},  // 537.5 up
      {-430, 120, 96, -538},                                                                    // half away from zero
      {5, 1, 2, 3},          {-5, 1, 2, -3},       {7, 1, 3, 2},         {8, 1, 3, 3},
      {1, 1, 0, -1},                                                                            // no divisor
      {INT_MAX, 2, 1, -1},                                                                      // overflow
      {INT_MAX, 3, 3, INT_MAX},                                                                 // 64-bit intermediate
      {18, 96, 120, 14},     {10, -3, 4, -8},      {10, 3, -4, -8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.number) + "*" + std::to_string(c.numerator) + "/" + std::to_string(c.denominator));
    EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected);
  }
}

TEST(CentredIn, MiddleAlongASideThatFits_NearEdgeAlongOneThatDoesNot) {
  const Rect work{150, 20, 1130, 600};
  EXPECT_EQ(CentredIn({440, 500}, work), (Rect{495, 70, 440, 500}));
  EXPECT_EQ(CentredIn({440, 684}, work), (Rect{495, 20, 440, 684})) << "too tall: top at the work area's top";
  EXPECT_EQ(CentredIn({1200, 500}, work), (Rect{150, 70, 1200, 500})) << "too wide: left at its left";
  EXPECT_EQ(CentredIn({1130, 600}, work), work) << "exactly the work area";
}

TEST(InitialClientSize, ScalesAndFitsTheWorkArea) {
  EXPECT_EQ(InitialClientSize(96, std::nullopt), (Size{430, 932}));
  EXPECT_EQ(InitialClientSize(144, std::nullopt), (Size{645, 1398})) << "150 %, no monitor information";
  EXPECT_EQ(InitialClientSize(144, Size{1920, 1040}), (Size{645, 988})) << "95 % of a 1040-pixel work area";
  EXPECT_EQ(InitialClientSize(96, Size{1920, 1080}), (Size{430, 932})) << "fits: unchanged";
  EXPECT_EQ(InitialClientSize(96, Size{400, 600}), (Size{400, 640})) << "never below 640, width cut";
  EXPECT_EQ(InitialClientSize(144, Size{1920, 900}), (Size{645, 960})) << "640 scaled is the floor";
}

TEST(ClampToWorkArea, MovesAndShrinksIntoTheWorkArea) {
  const Rect work{0, 0, 1920, 1040};
  const Size minimum{376, 679};
  EXPECT_EQ(ClampToWorkArea({100, 50, 446, 971}, work, minimum), std::nullopt) << "inside: nothing to do";
  EXPECT_EQ(ClampToWorkArea({100, 500, 446, 971}, work, minimum), (Rect{100, 69, 446, 971})) << "bottom pulled up";
  EXPECT_EQ(ClampToWorkArea({100, -50, 446, 971}, work, minimum), (Rect{100, 0, 446, 971})) << "top pushed down";
  EXPECT_EQ(ClampToWorkArea({1800, 0, 446, 971}, work, minimum), (Rect{1474, 0, 446, 971})) << "right edge";
  EXPECT_EQ(ClampToWorkArea({100, 0, 446, 1400}, work, minimum), (Rect{100, 0, 446, 1040})) << "too tall";
  EXPECT_EQ(ClampToWorkArea({0, 0, 446, 971}, Rect{0, 0, 300, 600}, minimum), (Rect{0, 0, 376, 679}))
      << "a tiny work area: never below the minimum window";
  EXPECT_EQ(ClampToWorkArea({2000, 20, 446, 971}, Rect{1920, 0, 1280, 1024}, minimum), std::nullopt)
      << "a second monitor";
}

TEST(FitFixedClientHeight, TakesTheExcessOffInLogicalPixels) {
  // A 1000-pixel work area at 100 %: the cap is 950, so the client height is
  // 950 minus the frame's extra height whenever the window would be taller.
  EXPECT_EQ(FitFixedClientHeight(932, 932 + 39, 1000, 96), 950 - 39);
  EXPECT_EQ(FitFixedClientHeight(932, 932 + 10, 1000, 96), 932) << "fits under the cap";
  EXPECT_EQ(FitFixedClientHeight(932, 932 + 39, 700, 96), 640) << "never below 640";
  // 150 %: the excess in physical pixels converts back with MulDiv
  // (1443 - 1235 = 208 physical = 138.67 -> 139 logical).
  EXPECT_EQ(FitFixedClientHeight(932, 1398 + 45, 1300, 144), 932 - 139);
}

TEST(RestoredClientSize, SavedSizeWithItsWidthKeptInRange) {
  EXPECT_EQ(RestoredClientSize(std::nullopt), (Size{430, 932}));
  EXPECT_EQ(RestoredClientSize(Size{500, 800}), (Size{500, 800}));
  EXPECT_EQ(RestoredClientSize(Size{900, 800}), (Size{560, 800}));
  EXPECT_EQ(RestoredClientSize(Size{200, 800}), (Size{360, 800}));
  EXPECT_EQ(RestoredClientSize(Size{0, 800}), (Size{430, 932})) << "no saved width";
  EXPECT_EQ(RestoredClientSize(Size{500, 0}), (Size{430, 932})) << "no saved height";
}

}  // namespace
}  // namespace VirelantDesktop::window
