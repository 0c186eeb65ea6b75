#include "render/scroll_view.h"

#include <gtest/gtest.h>

#include "render/layout_events.h"

namespace VirelantDesktop::render {
namespace {

TEST(ScrollProps, ReadTheConfigurationsOfBothPlatforms) {
  EXPECT_TRUE(IsScrollViewComponent("RCTScrollView"));
  EXPECT_TRUE(IsScrollViewComponent("AndroidHorizontalScrollView"));
  EXPECT_FALSE(IsScrollViewComponent("RCTScrollContentView"));

  EXPECT_EQ(ParseScrollProps("RCTScrollView", Props::object()), ScrollProps{});
  EXPECT_EQ(ParseScrollProps("AndroidHorizontalScrollView", Props::object()).axes, ScrollAxes::Horizontal);
  EXPECT_EQ(ParseScrollProps("RCTScrollView", {{"horizontal", false}}).axes, ScrollAxes::Vertical);

  const ScrollProps p = ParseScrollProps(
      "RCTScrollView", {{"scrollEnabled", false},
                        {"scrollEventThrottle", 32},
                        {"showsVerticalScrollIndicator", false},
                        {"contentOffset", {{"y", 120}}},
                        {"maintainVisibleContentPosition", {{"minIndexForVisible", 1}, {"autoscrollToTopThreshold", 10}}}});
  EXPECT_FALSE(p.enabled);
  EXPECT_EQ(p.eventThrottleMs, 32);
  EXPECT_FALSE(p.showsVerticalIndicator);
  EXPECT_TRUE(p.showsHorizontalIndicator);
  EXPECT_EQ(p.initialOffset, (Point{0, 120}));
  EXPECT_EQ(p.keepVisibleFromIndex, 1);
  EXPECT_EQ(p.autoscrollToStartThreshold, 10.0f);

  const ScrollProps bad = ParseScrollProps(
      "RCTScrollView", {{"scrollEventThrottle", -5},
                        {"contentOffset", {{"x", "a"}}},
                        {"maintainVisibleContentPosition", {{"minIndexForVisible", -1}}},
                        {"horizontal", "yes"}});
  EXPECT_EQ(bad, ScrollProps{}) << "wrong types and ranges count as unset";
}

TEST(ScrollGeometry, TheExtentIsWhatTheContentExceedsOnTheViewsAxes) {
  const Size viewport{100, 200};
  const Size content{300, 1000};
  EXPECT_EQ(MaxScrollOffset({}, viewport, content), (Point{200, 800}));
  ScrollProps vertical;
  vertical.axes = ScrollAxes::Vertical;
  ScrollProps horizontal;
  horizontal.axes = ScrollAxes::Horizontal;
  EXPECT_EQ(MaxScrollOffset(vertical, viewport, content), (Point{0, 800}));
  EXPECT_EQ(MaxScrollOffset(horizontal, viewport, content), (Point{200, 0}));
  EXPECT_EQ(MaxScrollOffset({}, viewport, {50, 50}), (Point{0, 0})) << "short content does not scroll";

  EXPECT_EQ(ClampScrollOffset({-5, 900}, {200, 800}), (Point{0, 800}));
  EXPECT_EQ(ClampScrollOffset({NAN, INFINITY}, {200, 800}), (Point{0, 0}));
  EXPECT_TRUE(CanScrollBy({0, 0}, {0, 800}, {0, 10}));
  EXPECT_FALSE(CanScrollBy({0, 0}, {0, 800}, {0, -10})) << "at the start already";
  EXPECT_FALSE(CanScrollBy({0, 800}, {0, 800}, {0, 10})) << "at the end already";
}

TEST(ScrollGeometry, AWheelNotchMovesAViewportsTwoThirdsPower) {
  EXPECT_NEAR(WheelStep(1000), 100, 0.01);
  EXPECT_EQ(WheelStep(0), 0);
  EXPECT_NEAR(WheelScrollDelta({0, 1}, {100, 1000}, {0, 500}).y, 100, 0.01);
  EXPECT_NEAR(WheelScrollDelta({0, -0.5f}, {100, 1000}, {0, 500}).y, -50, 0.01) << "smooth deltas scale";
  const Point sideways = WheelScrollDelta({0, 1}, {1000, 100}, {500, 0});
  EXPECT_NEAR(sideways.x, 100, 0.01) << "a vertical wheel over a sideways-only view moves it sideways";
  EXPECT_EQ(sideways.y, 0);
}

TEST(ScrollGeometry, IndicatorsShowTheViewportsShareAndPlace) {
  const Size viewport{100, 200};
  const Size content{100, 800};
  const auto top = VerticalIndicator({0, 0}, {0, 600}, viewport, content);
  ASSERT_TRUE(top);
  EXPECT_NEAR(top->height, (200 - 2 * kIndicatorMargin) / 4, 0.01);
  EXPECT_EQ(top->y, kIndicatorMargin);
  EXPECT_EQ(top->x, 100 - kIndicatorMargin - kIndicatorThickness);
  const auto end = VerticalIndicator({0, 600}, {0, 600}, viewport, content);
  ASSERT_TRUE(end);
  EXPECT_NEAR(end->y + end->height, 200 - kIndicatorMargin, 0.01);
  EXPECT_FALSE(VerticalIndicator({0, 0}, {0, 0}, viewport, {100, 100})) << "nothing to scroll";
  EXPECT_FALSE(HorizontalIndicator({0, 0}, {0, 600}, viewport, content));
  const auto longContent = VerticalIndicator({0, 0}, {0, 99800}, viewport, {100, 100000});
  ASSERT_TRUE(longContent);
  EXPECT_EQ(longContent->height, kMinIndicatorLength);
}

TEST(ScrollGeometry, KeysMoveByPagesLinesAndToTheEnds) {
  const Size viewport{100, 200};
  const Point max{0, 1000};
  EXPECT_EQ(KeyScrollOffset(ScrollKey::PageDown, {0, 0}, max, viewport), (Point{0, 180}));
  EXPECT_EQ(KeyScrollOffset(ScrollKey::PageUp, {0, 100}, max, viewport), (Point{0, 0})) << "clamped";
  EXPECT_EQ(KeyScrollOffset(ScrollKey::End, {0, 10}, max, viewport), (Point{0, 1000}));
  EXPECT_EQ(KeyScrollOffset(ScrollKey::Home, {0, 500}, max, viewport), (Point{0, 0}));
  EXPECT_EQ(KeyScrollOffset(ScrollKey::Down, {0, 500}, max, viewport), (Point{0, 500 + kKeyScrollLine}));
  EXPECT_EQ(KeyScrollOffset(ScrollKey::Right, {0, 500}, max, viewport), (Point{0, 500})) << "no sideways extent";
  EXPECT_EQ(KeyScrollOffset(ScrollKey::PageDown, {0, 0}, {500, 0}, viewport), (Point{90, 0}))
      << "a sideways-only view pages sideways";
}

TEST(ScrollGeometry, AnimationsEaseOutAndEndOnTheTarget) {
  EXPECT_EQ(AnimatedScrollOffset({0, 0}, {0, 100}, 0, 250), (Point{0, 0}));
  const Point half = AnimatedScrollOffset({0, 0}, {0, 100}, 125, 250);
  EXPECT_GT(half.y, 50) << "ease-out: more than half the way at half the time";
  EXPECT_LT(half.y, 100);
  EXPECT_EQ(AnimatedScrollOffset({0, 0}, {0, 100}, 300, 250), (Point{0, 100}));
  EXPECT_EQ(AnimatedScrollOffset({0, 0}, {0, 100}, 10, 0), (Point{0, 100}));
}

TEST(ScrollEventThrottle, OnePerPeriodAndAtLeastAFrameApart) {
  ScrollEventThrottle throttle;
  EXPECT_TRUE(throttle.TrySend(1000, 100));
  EXPECT_FALSE(throttle.TrySend(1050, 100));
  EXPECT_EQ(throttle.DueAtMs(100), 1100);
  EXPECT_TRUE(throttle.TrySend(1100, 100));
  EXPECT_FALSE(throttle.TrySend(1105, 0)) << "no throttle still means one per frame";
  EXPECT_TRUE(throttle.TrySend(1117, 0));
}

TEST(ScrollEventPayload, CarriesWhatTheListsRead) {
  const Props p = ScrollEventPayload({0, 40}, {320, 480}, {320, 5000}, 12.5);
  EXPECT_EQ(p["contentOffset"]["y"], 40);
  EXPECT_EQ(p["contentSize"]["height"], 5000);
  EXPECT_EQ(p["layoutMeasurement"]["width"], 320);
  EXPECT_EQ(p["zoomScale"], 1);
  EXPECT_EQ(p["contentInset"]["top"], 0);
  EXPECT_EQ(p["timestamp"], 12.5);
}

ViewModelPtr Listening(bool onLayout) {
  auto model = std::make_shared<ViewModel>();
  model->wantsLayout = onLayout;
  return model;
}

MountOp Op(MountKind kind, Tag tag, Rect frame = {}, ViewModelPtr model = nullptr) {
  MountOp op;
  op.kind = kind;
  op.tag = tag;
  op.layout.frame = frame;
  op.model = std::move(model);
  return op;
}

TEST(LayoutReporter, ReportsFirstLayoutsAndChangedFramesOnlyToListeners) {
  LayoutReporter reporter;
  std::unordered_map<Tag, ViewModelPtr> models{{2, Listening(true)}, {3, Listening(false)}};
  const auto modelOf = [&](Tag tag) { return models.count(tag) ? models[tag] : nullptr; };

  MountTransaction first;
  first.rootTag = 1;
  first.ops = {Op(MountKind::Create, 2, {0, 0, 10, 10}, models[2]), Op(MountKind::Create, 3, {0, 0, 5, 5}, models[3]),
               Op(MountKind::UpdateLayout, 1, {0, 0, 400, 300})};
  auto events = reporter.Collect(first, modelOf);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].tag, 2);
  EXPECT_EQ(LayoutEventPayload(events[0].frame)["layout"]["width"], 10);

  MountTransaction same;
  same.rootTag = 1;
  same.ops = {Op(MountKind::UpdateLayout, 2, {0, 0, 10, 10}), Op(MountKind::UpdateLayout, 3, {1, 1, 5, 5})};
  EXPECT_TRUE(reporter.Collect(same, modelOf).empty()) << "an unchanged frame is not reported again";

  MountTransaction moved;
  moved.rootTag = 1;
  moved.ops = {Op(MountKind::UpdateLayout, 2, {0, 5, 10, 10}), Op(MountKind::UpdateLayout, 2, {0, 6, 10, 10})};
  events = reporter.Collect(moved, modelOf);
  ASSERT_EQ(events.size(), 1u) << "one event per view and commit, with its last frame";
  EXPECT_EQ(events[0].frame.y, 6);

  MountTransaction gone;
  gone.rootTag = 1;
  gone.ops = {Op(MountKind::UpdateLayout, 2, {0, 9, 10, 10}), Op(MountKind::Delete, 2)};
  EXPECT_TRUE(reporter.Collect(gone, modelOf).empty()) << "a deleted view hears nothing";
  EXPECT_EQ(reporter.Tracked(), 0u);
}

}  // namespace
}  // namespace VirelantDesktop::render
