#include "render/view_props.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace VirelantDesktop::render {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void ExpectAffineNear(const Affine& actual, const Affine& expected) {
  EXPECT_NEAR(actual.a, expected.a, 1e-9);
  EXPECT_NEAR(actual.b, expected.b, 1e-9);
  EXPECT_NEAR(actual.c, expected.c, 1e-9);
  EXPECT_NEAR(actual.d, expected.d, 1e-9);
  EXPECT_NEAR(actual.tx, expected.tx, 1e-9);
  EXPECT_NEAR(actual.ty, expected.ty, 1e-9);
}

TEST(ParseTransform, OperationsComposeInArrayOrder) {
  // translate then scale: the point is scaled first, then moved.
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"translateX":10},{"scale":2}])")), Affine{2, 0, 0, 2, 10, 0});
  // scale then translate: the translation is scaled too.
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"scale":2},{"translateX":10}])")), Affine{2, 0, 0, 2, 20, 0});
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"rotate":"90deg"}])")), Affine{0, 1, -1, 0, 0, 0});
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"rotateZ":"0.5rad"}])")),
                   Affine{std::cos(0.5), std::sin(0.5), -std::sin(0.5), std::cos(0.5), 0, 0});
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"scaleX":3},{"scaleY":4},{"translateY":5}])")),
                   Affine{3, 0, 0, 4, 0, 20});
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"skewX":"45deg"}])")), Affine{1, 0, 1, 1, 0, 0});
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"matrix":[1,0,0,0, 0,1,0,0, 0,0,1,0, 7,8,0,1]}])")),
                   Affine{1, 0, 0, 1, 7, 8});
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"matrix":[2,0,0, 0,2,0, 3,4,1]}])")), Affine{2, 0, 0, 2, 3, 4});
}

TEST(ParseTransform, BadOperationsAreSkippedNotFatal) {
  const Affine identity;
  EXPECT_EQ(ParseTransform(Props("rotate(45deg)")), identity);
  EXPECT_EQ(ParseTransform(Props::parse(R"([{"rotate":45},{"translateX":"x"},{"matrix":[1,2]},{"perspective":100}])")),
            identity);
  EXPECT_EQ(ParseTransform(Props::parse(R"([{"translateX":1,"translateY":2}, 5, null])")), identity);
  // Overflowing to infinity leaves the whole transform out.
  EXPECT_EQ(ParseTransform(Props::parse(R"([{"scale":1e200},{"scale":1e200}])")), identity);
  ExpectAffineNear(ParseTransform(Props::parse(R"([{"translateX":"bad"},{"translateY":3}])")),
                   Affine{1, 0, 0, 1, 0, 3});
}

TEST(ParseViewStyle, VisualProps) {
  const ViewStyle style = ParseViewStyle(Props::parse(R"({
    "backgroundColor": 4294901760, "opacity": 0.5, "overflow": "hidden", "pointerEvents": "box-none",
    "cursor": "pointer", "borderWidth": 2, "borderLeftColor": "blue", "borderRadius": 4,
    "borderTopRightRadius": 9, "transform": [{"translateX": 3}]})"));
  EXPECT_EQ(style.backgroundColor, (Color{255, 255, 0, 0}));
  EXPECT_FLOAT_EQ(style.opacity, 0.5f);
  EXPECT_TRUE(style.overflowHidden);
  EXPECT_EQ(style.pointerEvents, PointerEvents::BoxNone);
  EXPECT_EQ(style.cursor, Cursor::Pointer);
  EXPECT_EQ(style.borderWidth, (EdgeInsets{2, 2, 2, 2}));
  EXPECT_EQ(style.borderColor.left, (Color{255, 0, 0, 255}));
  EXPECT_EQ(style.borderColor.top, (Color{255, 0, 0, 0})) << "black where a width is set and no colour";
  EXPECT_EQ(style.borderRadius, (CornerRadii{4, 9, 4, 4}));
  EXPECT_EQ(style.transform.tx, 3);
}

TEST(ParseViewStyle, StartAndEndFollowTheDirection) {
  const Props props = Props::parse(R"({"borderStartWidth": 1, "borderEndWidth": 5, "borderLeftWidth": 9,
                                       "borderTopStartRadius": 3})");
  const ViewStyle ltr = ParseViewStyle(props);
  EXPECT_EQ(ltr.borderWidth.left, 1);
  EXPECT_EQ(ltr.borderWidth.right, 5);
  EXPECT_EQ(ltr.borderRadius.topLeft, 3);
  const ViewStyle rtl = ParseViewStyle(props, LayoutDirection::Rtl);
  EXPECT_EQ(rtl.borderWidth.left, 5);
  EXPECT_EQ(rtl.borderWidth.right, 1);
  EXPECT_EQ(rtl.borderRadius.topRight, 3);
  Props own = props;
  own["direction"] = "rtl";
  EXPECT_EQ(ParseViewStyle(own).borderWidth.left, 5);
}

TEST(ParseViewStyle, WrongTypesAndNonFiniteNumbersAreUnset) {
  const ViewStyle defaults;
  EXPECT_EQ(ParseViewStyle(Props::parse(R"({"backgroundColor": {"x": 1}, "opacity": "half",
      "borderWidth": -3, "borderRadius": "50%", "overflow": 1, "pointerEvents": false, "transform": {}})")),
            defaults);
  EXPECT_EQ(ParseViewStyle(Props{{"opacity", kNaN}, {"borderWidth", kNaN}}), defaults);
  EXPECT_EQ(ParseViewStyle(Props("not an object")), defaults);
  EXPECT_EQ(ParseViewStyle(Props{{"opacity", 7}}).opacity, 1.0f);
  EXPECT_EQ(ParseViewStyle(Props{{"borderWidth", 1e300}}).borderWidth.left, 1e7f);
}

TEST(ParseTextAttributes, ValuesAndTheirForms) {
  const TextAttributes attrs = ParseTextAttributes(Props::parse(R"({
    "color": "#00ff00", "fontSize": 18, "fontWeight": "bold", "fontStyle": "italic", "fontFamily": "Serif",
    "lineHeight": 22, "letterSpacing": -0.5, "textDecorationLine": "underline line-through",
    "textAlign": "center", "backgroundColor": "yellow"})"));
  EXPECT_EQ(attrs.color, (Color{255, 0, 255, 0}));
  EXPECT_EQ(attrs.fontSize, 18.0f);
  EXPECT_EQ(attrs.fontWeight, 700);
  EXPECT_EQ(attrs.fontStyle, FontStyle::Italic);
  EXPECT_EQ(attrs.fontFamily, "Serif");
  EXPECT_EQ(attrs.lineHeight, 22.0f);
  EXPECT_EQ(attrs.letterSpacing, -0.5f);
  EXPECT_EQ(attrs.underline, true);
  EXPECT_EQ(attrs.lineThrough, true);
  EXPECT_EQ(attrs.textAlign, TextAlign::Center);
  EXPECT_TRUE(attrs.backgroundColor.has_value());

  struct WeightCase {
    Props value;
    std::optional<int> expected;
  };
  for (const WeightCase& c : std::vector<WeightCase>{{"normal", 400}, {"300", 300}, {600, 600}, {"950", 900},
                                                     {450, 500}, {"heavy", std::nullopt}, {0, std::nullopt},
                                                     {true, std::nullopt}, {"-100", std::nullopt}}) {
    EXPECT_EQ(ParseTextAttributes(Props{{"fontWeight", c.value}}).fontWeight, c.expected) << c.value.dump();
  }
  const TextAttributes bad = ParseTextAttributes(
      Props::parse(R"({"fontSize": -4, "lineHeight": "x", "fontFamily": 3, "textDecorationLine": 1})"));
  EXPECT_EQ(bad, TextAttributes{});
}

TEST(TextAttributes, InheritFillsOnlyUnsetValues) {
  TextAttributes inner;
  inner.fontSize = 20;
  TextAttributes outer;
  outer.fontSize = 10;
  outer.color = Color{255, 1, 2, 3};
  inner.InheritFrom(outer);
  EXPECT_EQ(inner.fontSize, 20.0f);
  EXPECT_EQ(inner.color, (Color{255, 1, 2, 3}));
}

TEST(ParseParagraphAttributes, LinesEllipsisSelectable) {
  const auto p = ParseParagraphAttributes(Props{{"numberOfLines", 2}, {"ellipsizeMode", "middle"}, {"selectable", true}});
  EXPECT_EQ(p.numberOfLines, 2);
  EXPECT_EQ(p.ellipsizeMode, EllipsizeMode::Middle);
  EXPECT_TRUE(p.selectable);
  EXPECT_EQ(ParseParagraphAttributes(Props{{"numberOfLines", -1}, {"selectable", "yes"}}), ParagraphAttributes{});
}

TEST(ParseImageProps, SourceShapes) {
  const ImageProps one = ParseImageProps(Props::parse(
      R"({"source": {"uri": "file:///a.png", "width": 10, "height": 20, "scale": 2}, "resizeMode": "contain",
          "tintColor": "red", "blurRadius": 3})"));
  ASSERT_EQ(one.sources.size(), 1u);
  EXPECT_EQ(one.sources[0], (ImageSource{"file:///a.png", 10, 20, 2}));
  EXPECT_EQ(one.resizeMode, ResizeMode::Contain);
  EXPECT_TRUE(one.tintColor.has_value());
  EXPECT_EQ(one.blurRadius, 3.0f);

  const ImageProps many = ParseImageProps(Props::parse(
      R"({"src": [{"uri": "a", "scale": 1}, {"uri": 5}, {"nouri": true}, {"uri": "b", "scale": 0}], "resizeMode": 4})"));
  ASSERT_EQ(many.sources.size(), 2u);
  EXPECT_EQ(many.sources[1].uri, "b");
  EXPECT_EQ(many.sources[1].scale, 1.0f) << "a zero scale is ignored";
  EXPECT_EQ(many.resizeMode, ResizeMode::Cover);

  EXPECT_TRUE(ParseImageProps(Props{{"source", 12}, {"blurRadius", -2}}).sources.empty());
  EXPECT_EQ(ParseImageProps(Props{{"source", "data:x"}}).sources.at(0).uri, "data:x");
}

TEST(WantsHover, AnyHoverEventFlag) {
  EXPECT_TRUE(WantsHover(Props{{"onPointerMove", true}}));
  EXPECT_TRUE(WantsHover(Props{{"onMouseEnter", true}}));
  EXPECT_FALSE(WantsHover(Props{{"onPointerEnter", false}, {"onPress", true}}));
  EXPECT_FALSE(WantsHover(Props{{"onMouseLeave", "yes"}}));
}

}  // namespace
}  // namespace VirelantDesktop::render
