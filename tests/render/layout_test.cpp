// Yoga layout through SurfaceTree: the frames small trees get.
#include <gtest/gtest.h>

#include "tests/render/render_test_support.h"

namespace VirelantDesktop::render {
namespace {

using namespace testing;

class LayoutTest : public ::testing::Test {
 protected:
  Rect Frame(Tag tag) { return tree.Metrics(tag).value_or(LayoutMetrics{}).frame; }
  void Commit(std::vector<ShadowNodePtr> children) { tree.Commit(std::move(children), &warnings); }

  std::shared_ptr<FakeMeasurer> measurer = std::make_shared<FakeMeasurer>();
  SurfaceTree tree{kRoot, measurer};
  std::vector<std::string> warnings;
};

TEST_F(LayoutTest, RowAndColumn) {
  tree.SetConstraints(Viewport(300, 200));
  Commit({View(2, {{"flexDirection", "row"}, {"height", 50}},
               {View(3, {{"width", 100}}), View(4, {{"flex", 1}})}),
          View(5, {{"flex", 1}})});
  EXPECT_EQ(Frame(2), (Rect{0, 0, 300, 50}));
  EXPECT_EQ(Frame(3), (Rect{0, 0, 100, 50}));
  EXPECT_EQ(Frame(4), (Rect{100, 0, 200, 50}));
  EXPECT_EQ(Frame(5), (Rect{0, 50, 300, 150}));
  EXPECT_EQ(Frame(kRoot), (Rect{0, 0, 300, 200}));
}

TEST_F(LayoutTest, PaddingMarginBorderPercentAndAbsolute) {
  tree.SetConstraints(Viewport(200, 200));
  Commit({View(2, Props::parse(R"({"padding": 10, "borderWidth": 2, "height": "50%"})"),
               {View(3, Props::parse(R"({"marginHorizontal": 5, "width": "50%", "height": 10})")),
                View(4, Props::parse(R"({"position": "absolute", "right": 0, "bottom": 0, "width": 20,
                                         "height": 30})"))})});
  EXPECT_EQ(Frame(2), (Rect{0, 0, 200, 100}));
  // Percentages resolve against the parent's content box (200 - 2*12).
  EXPECT_EQ(Frame(3), (Rect{17, 12, 88, 10}));
  // Absolute children sit inside the border, outside the padding.
  EXPECT_EQ(Frame(4), (Rect{178, 68, 20, 30}));
  const LayoutMetrics metrics = *tree.Metrics(2);
  EXPECT_EQ(metrics.borderWidth, (EdgeInsets{2, 2, 2, 2}));
  EXPECT_EQ(metrics.contentInsets, (EdgeInsets{12, 12, 12, 12}));
  EXPECT_EQ(tree.AbsoluteFrame(3), (Rect{17, 12, 88, 10}));
}

TEST_F(LayoutTest, RtlSwapsStartAndEnd) {
  tree.SetConstraints(Viewport(300, 100, 1, LayoutDirection::Rtl));
  Commit({View(2, Props::parse(R"({"flexDirection": "row", "paddingStart": 10, "height": 20})"),
               {View(3, {{"width", 50}}), View(4, {{"width", 60}, {"marginStart", 5}})})});
  EXPECT_EQ(Frame(3), (Rect{240, 0, 50, 20}));
  EXPECT_EQ(Frame(4), (Rect{175, 0, 60, 20}));
  EXPECT_EQ(tree.Metrics(3)->direction, LayoutDirection::Rtl);

  // The node's own direction wins over the viewport's.
  Commit({View(2, Props::parse(R"({"flexDirection": "row", "paddingStart": 10, "height": 20, "direction": "ltr"})"),
               {View(3, {{"width", 50}}), View(4, {{"width", 60}, {"marginStart", 5}})})});
  EXPECT_EQ(Frame(3), (Rect{10, 0, 50, 20}));
  EXPECT_EQ(Frame(4), (Rect{65, 0, 60, 20}));
}

TEST_F(LayoutTest, FramesRoundToDevicePixels) {
  tree.SetConstraints(Viewport(100, 100, 1.5f));
  Commit({View(2, {{"flexDirection", "row"}, {"height", 10.1}},
               {View(3, {{"width", 10.1}}), View(4, {{"width", 10.1}}), View(5, {{"width", 10.1}})})});
  for (Tag tag : {2, 3, 4, 5}) {
    const Rect f = Frame(tag);
    for (float v : {f.x, f.y, f.width, f.height}) {
      const float devicePixels = v * 1.5f;
      EXPECT_NEAR(devicePixels, std::round(devicePixels), 1e-3) << "tag " << tag << " value " << v;
    }
  }
  // Edges are rounded, so neighbours touch without gaps.
  EXPECT_FLOAT_EQ(Frame(3).x + Frame(3).width, Frame(4).x);
}

TEST_F(LayoutTest, ParagraphsMeasureTheirText) {
  tree.SetConstraints(Viewport(100, 400));
  Commit({View(2, {{"alignItems", "flex-start"}},
               {Node(3, "RCTParagraph", {{"fontSize", 28}},
                     {Raw(4, "abc"), Node(5, "RCTVirtualText", {{"fontSize", 14}}, {Raw(6, "de")})}),
                Node(7, "RCTParagraph", Props::object(), {Raw(8, std::string(30, 'x'))}),
                Node(9, "RCTParagraph", {{"numberOfLines", 2}}, {Raw(10, std::string(60, 'x'))}),
                Node(11, "RCTParagraph")})});
  // "abc" at 28 (14 px a char) + "de" at 14 (7 px a char).
  EXPECT_EQ(Frame(3), (Rect{0, 0, 56, 20}));
  // 210 px of text wraps at 100 into three lines.
  EXPECT_EQ(Frame(7), (Rect{0, 20, 100, 60}));
  EXPECT_EQ(Frame(9).height, 40);
  EXPECT_EQ(Frame(11), (Rect{0, 120, 0, 0}));
  EXPECT_FALSE(tree.Metrics(4).has_value()) << "raw text is not laid out";
}

TEST_F(LayoutTest, TextInputsAreMeasuredByTheirTextOrPlaceholderAndPadded) {
  tree.SetConstraints(Viewport(100, 400));
  Commit({View(2, Props::object(),
               {Node(3, "RCTSinglelineTextInputView", {{"padding", 5}, {"placeholder", "Message"}}),
                Node(4, "RCTSinglelineTextInputView", {{"text", std::string(30, 'x')}}),
                Node(5, "RCTMultilineTextInputView", {{"text", std::string(30, 'x')}, {"maxHeight", 50}}),
                Node(6, "RCTMultilineTextInputView", {{"fontSize", 28}}),
                Node(7, "RCTSinglelineTextInputView", {{"height", 36}, {"value", "typed"}},
                     {Raw(8, "a child is not laid out")})})});
  EXPECT_EQ(Frame(3), (Rect{0, 0, 100, 30})) << "one line of 20 and the padding; stretched across";
  EXPECT_EQ(Frame(4).height, 20) << "a single line does not wrap";
  EXPECT_EQ(Frame(5).height, 50) << "three wrapped lines, up to maxHeight";
  EXPECT_EQ(Frame(6).height, 20) << "empty: one line";
  EXPECT_EQ(Frame(7).height, 36) << "an explicit height wins";
  EXPECT_FALSE(tree.Metrics(8).has_value());
}

TEST_F(LayoutTest, AMultiLineInputGrowsWithWhatIsTypedUpToItsMaxHeight) {
  tree.SetConstraints(Viewport(100, 400));
  auto input = Node(3, "RCTMultilineTextInputView", {{"maxHeight", 60}, {"placeholder", "Write"}});
  Commit({View(2, Props::object(), {input})});
  EXPECT_EQ(Frame(3).height, 20);
  EXPECT_FALSE(tree.SetInputText(2, "not an input"));
  ASSERT_TRUE(tree.SetInputText(3, std::string(30, 'x')));  // 210 px: three lines at 100
  const MountTransaction grown = tree.Relayout();
  bool moved = false;
  for (const MountOp& op : grown.ops) moved = moved || (op.tag == 3 && op.layout.frame.height == 60);
  EXPECT_TRUE(moved) << "an UpdateLayout for the input";
  EXPECT_EQ(Frame(3).height, 60);
  ASSERT_TRUE(tree.SetInputText(3, std::string(200, 'x')));
  tree.Relayout();
  EXPECT_EQ(Frame(3).height, 60) << "no taller than maxHeight";
  EXPECT_FALSE(tree.SetInputText(3, std::string(200, 'x'))) << "the same text: nothing to do";
  // The bundle clears it (a controlled value): measured by the props again.
  Commit({View(2, Props::object(), {WithProps(input, {{"text", ""}})})});
  EXPECT_EQ(Frame(3).height, 20);
}

TEST_F(LayoutTest, RelayoutAfterResizeReportsOnlyLayout) {
  tree.SetConstraints(Viewport(100, 100));
  Commit({View(2, {{"flex", 1}}), View(3, {{"height", 10}})});
  tree.SetConstraints(Viewport(200, 300));
  const MountTransaction tx = tree.Relayout();
  for (const MountOp& op : tx.ops) EXPECT_EQ(op.kind, MountKind::UpdateLayout);
  auto layoutOf = [&](Tag tag) -> std::optional<Rect> {
    for (const MountOp& op : tx.ops) {
      if (op.tag == tag) return op.layout.frame;
    }
    return std::nullopt;
  };
  EXPECT_EQ(layoutOf(kRoot), (Rect{0, 0, 200, 300}));
  EXPECT_EQ(layoutOf(2), (Rect{0, 0, 200, 290}));
  EXPECT_EQ(layoutOf(3), (Rect{0, 290, 200, 10}));
  EXPECT_TRUE(tree.Relayout().ops.empty()) << "nothing changed the second time";
}

TEST_F(LayoutTest, FontScaleRemeasuresParagraphs) {
  tree.SetConstraints(Viewport(500, 100));
  Commit({View(2, {{"alignItems", "flex-start"}}, {Node(3, "RCTParagraph", Props::object(), {Raw(4, "abcd")})})});
  EXPECT_EQ(Frame(3).width, 28);
  LayoutConstraints bigger = Viewport(500, 100);
  bigger.fontScale = 2;
  tree.SetConstraints(bigger);
  tree.Relayout();
  EXPECT_EQ(Frame(3).width, 56);
}

TEST_F(LayoutTest, BadLayoutValuesAreIgnored) {
  tree.SetConstraints(Viewport(100, 100));
  Commit({View(2, Props::parse(R"({"width": "wide", "height": -5, "flex": "1", "padding": {"a": 1},
                                   "margin": [1], "flexDirection": 3, "aspectRatio": 0, "top": "1e999%"})")),
          View(3, {{"width", 1e300}, {"height", std::numeric_limits<double>::quiet_NaN()}}),
          View(4, {{"aspectRatio", "2/1"}, {"width", 40}})});
  EXPECT_EQ(Frame(2), (Rect{0, 0, 100, 0}));
  EXPECT_TRUE(std::isfinite(Frame(3).width));
  EXPECT_EQ(Frame(4).height, 20);
}

}  // namespace
}  // namespace VirelantDesktop::render
