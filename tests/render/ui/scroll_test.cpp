// Scroll views in the mounted tree, and the controller that scrolls them.
#include <gtest/gtest.h>

#include "render/affine_math.h"
#include "render/mounted_tree.h"
#include "render/scroll_input.h"
#include "tests/render/ui/tree_builder.h"

namespace VirelantDesktop::render {
namespace {

using testing::Model;
using testing::TransactionBuilder;

constexpr Tag kRoot = 1;
constexpr Tag kScroll = 2;
constexpr Tag kContent = 3;
constexpr Tag kFirstRow = 10;

ViewModelPtr ScrollModel(ScrollProps props = {}, ViewStyle style = {}) {
  style.overflowHidden = true;
  auto model = std::make_shared<ViewModel>(*Model(style, ViewKind::View, "RCTScrollView"));
  model->isScrollView = true;
  model->scroll = props;
  return model;
}

// A 200 x 100 scroll view at (50, 20) over `rows` rows of 40, stacked.
TransactionBuilder List(int rows, ScrollProps props = {}, ViewStyle style = {}) {
  TransactionBuilder t(kRoot);
  t.Add(kScroll, kRoot, {50, 20, 200, 100}, ScrollModel(props, style));
  t.Add(kContent, kScroll, {0, 0, 200, 40.0f * rows});
  for (int i = 0; i < rows; ++i) t.Add(kFirstRow + i, kContent, {0, 40.0f * i, 200, 40});
  return t;
}

TEST(ScrolledTree, TheOffsetMovesTheContentForDrawingHitsAndPlaces) {
  MountedTree tree;
  tree.Apply(List(10).Get());
  const auto metrics = tree.Scroll(kScroll);
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->max, (Point{0, 300}));
  EXPECT_EQ(metrics->content, (Size{200, 400}));
  EXPECT_FALSE(tree.Scroll(kContent)) << "only scroll views scroll";

  tree.TakeDamage();
  EXPECT_TRUE(tree.ScrollTo(kScroll, {0, 90}));
  EXPECT_EQ(tree.TakeScrolled(), (std::vector<Tag>{kScroll}));
  for (const Rect& rect : tree.TakeDamage()) {
    EXPECT_GE(rect.y, 20 - 2) << "the damage stays inside the viewport";
    EXPECT_LE(rect.y + rect.height, 120 + 2);
  }
  // Row 2 (content y 80..120) is at window y 20 + 80 - 90 = 10: above the
  // top, clipped; the point (60, 25) is content y 95: row 2.
  EXPECT_EQ(tree.HitTest(kRoot, {60, 25}), kFirstRow + 2);
  EXPECT_EQ(tree.HitTest(kRoot, {60, 115}), kFirstRow + 4);
  EXPECT_EQ(tree.HitTest(kRoot, {60, 10}), kRoot) << "content scrolled above the viewport is not hit";
  EXPECT_EQ(tree.AbsoluteFrame(kFirstRow + 3), (Rect{50, 20 + 120 - 90, 200, 40}));
  const auto local = tree.ToLocal(kFirstRow + 3, {60, 60});
  ASSERT_TRUE(local);
  EXPECT_EQ(local->y, 10);

  EXPECT_FALSE(tree.ScrollTo(kScroll, {0, 90})) << "no move, no damage";
  EXPECT_TRUE(tree.TakeDamage().empty());
  EXPECT_TRUE(tree.ScrollTo(kScroll, {40, 5000}));
  EXPECT_EQ(tree.Scroll(kScroll)->offset, (Point{0, 300})) << "clamped to the extent";
  EXPECT_EQ(tree.ScrollViewsAt(kRoot, {60, 60}), (std::vector<Tag>{kScroll}));
  EXPECT_TRUE(tree.ScrollViewsAt(kRoot, {10, 10}).empty());
}

TEST(ScrolledTree, CommitsKeepTheOffsetWithinTheContent) {
  MountedTree tree;
  tree.Apply(List(10).Get());
  tree.ScrollTo(kScroll, {0, 300});
  tree.TakeScrolled();
  TransactionBuilder shrink(kRoot);
  shrink.Layout(kContent, {0, 0, 200, 160});
  tree.Apply(shrink.Get());
  EXPECT_EQ(tree.Scroll(kScroll)->offset, (Point{0, 60}));
  EXPECT_EQ(tree.TakeScrolled(), (std::vector<Tag>{kScroll})) << "the bundle hears of the move";

  ScrollProps start;
  start.initialOffset = Point{0, 1000};
  MountedTree other;
  other.Apply(List(10, start).Get());
  EXPECT_EQ(other.Scroll(kScroll)->offset, (Point{0, 300})) << "the initial offset, clamped once laid out";

  TransactionBuilder gone(kRoot);
  gone.Remove(kScroll, kRoot, 0).Delete(kScroll);
  other.Apply(gone.Get());
  EXPECT_TRUE(other.TakeScrolled().empty()) << "a deleted view is not reported";
  EXPECT_FALSE(other.ScrollTo(kScroll, {0, 10}));
}

TEST(ScrolledTree, RowsAddedAboveDoNotMoveWhatIsBeingRead) {
  ScrollProps keep;
  keep.keepVisibleFromIndex = 0;
  MountedTree tree;
  tree.Apply(List(10, keep).Get());
  tree.ScrollTo(kScroll, {0, 130});  // row 3 (120..160) is the first visible
  // Two rows arrive at the top; the others move down by 80.
  TransactionBuilder t(kRoot);
  t.Create(100, {0, 0, 200, 40}).Insert(100, kContent, 0).Create(101, {0, 40, 200, 40}).Insert(101, kContent, 1);
  for (int i = 0; i < 10; ++i) t.Layout(kFirstRow + i, {0, 80 + 40.0f * i, 200, 40});
  t.Layout(kContent, {0, 0, 200, 480});
  tree.Apply(t.Get());
  EXPECT_EQ(tree.Scroll(kScroll)->offset, (Point{0, 210}));
  EXPECT_EQ(tree.AbsoluteFrame(kFirstRow + 3)->y, 20 + 120 - 130) << "the row read stays where it was";

  ScrollProps near;
  near.keepVisibleFromIndex = 0;
  near.autoscrollToStartThreshold = 20;
  MountedTree top;
  top.Apply(List(10, near).Get());
  top.ScrollTo(kScroll, {0, 10});
  TransactionBuilder u(kRoot);
  u.Create(100, {0, 0, 200, 40}).Insert(100, kContent, 0);
  for (int i = 0; i < 10; ++i) u.Layout(kFirstRow + i, {0, 40 + 40.0f * i, 200, 40});
  u.Layout(kContent, {0, 0, 200, 440});
  top.Apply(u.Get());
  EXPECT_EQ(top.Scroll(kScroll)->offset, (Point{0, 0})) << "near the start it goes to the start";
}

double Now() { return 1000; }

TEST(ScrollController, TheWheelMovesTheInnermostViewThatCanMove) {
  MountedTree tree;
  TransactionBuilder t = List(10);
  // A sideways-only scroll view inside row 0.
  ScrollProps sideways;
  sideways.axes = ScrollAxes::Horizontal;
  t.Add(50, kFirstRow, {0, 0, 200, 40}, ScrollModel(sideways));
  t.Add(51, 50, {0, 0, 600, 40});
  tree.Apply(t.Get());
  ScrollController scroller;

  // Over the inner view: a vertical wheel it cannot take goes to the outer
  // one... unless the inner one scrolls only sideways, which takes it.
  EXPECT_TRUE(scroller.Wheel(tree, kRoot, {60, 30}, {0, 1}, false, Now()));
  EXPECT_GT(tree.Scroll(50)->offset.x, 0);
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 0);
  // Outside the inner one: the list moves by one notch of its viewport.
  EXPECT_TRUE(scroller.Wheel(tree, kRoot, {60, 100}, {0, 1}, false, Now()));
  EXPECT_NEAR(tree.Scroll(kScroll)->offset.y, WheelStep(100), 0.01);
  EXPECT_FALSE(scroller.Wheel(tree, kRoot, {10, 10}, {0, 1}, false, Now())) << "no scroll view there";
  // Up at the start: nothing moves.
  tree.ScrollTo(kScroll, {0, 0});
  EXPECT_FALSE(scroller.Wheel(tree, kRoot, {60, 100}, {0, -1}, false, Now()));

  ScrollProps locked;
  locked.enabled = false;
  MountedTree still;
  still.Apply(List(10, locked).Get());
  EXPECT_FALSE(scroller.Wheel(still, kRoot, {60, 60}, {0, 1}, false, Now())) << "scrollEnabled false";
}

TEST(ScrollController, KeysScrollTheViewUnderThePointerElseTheLargest) {
  MountedTree tree;
  TransactionBuilder t = List(10);
  t.Add(60, kRoot, {300, 0, 50, 50}, ScrollModel());  // small, its content taller
  t.Add(61, 60, {0, 0, 50, 500});
  tree.Apply(t.Get());
  ScrollController scroller;
  EXPECT_TRUE(scroller.Key(tree, kRoot, std::nullopt, ScrollKey::PageDown, 0));
  scroller.Tick(tree, kScrollAnimationMs);
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 90) << "the largest scroll view, nine tenths of a page";
  EXPECT_EQ(tree.Scroll(60)->offset.y, 0);

  EXPECT_TRUE(scroller.Key(tree, kRoot, Point{310, 10}, ScrollKey::End, 1000));
  scroller.Tick(tree, 1000 + kScrollAnimationMs);
  EXPECT_EQ(tree.Scroll(60)->offset.y, 450) << "the one under the pointer";

  // Two quick presses add up: the second goes on from where the first goes.
  EXPECT_TRUE(scroller.Key(tree, kRoot, std::nullopt, ScrollKey::Down, 2000));
  EXPECT_TRUE(scroller.Key(tree, kRoot, std::nullopt, ScrollKey::Down, 2010));
  scroller.Tick(tree, 2010 + kScrollAnimationMs);
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 90 + 2 * kKeyScrollLine);

  scroller.Key(tree, kRoot, std::nullopt, ScrollKey::Home, 3000);
  scroller.Tick(tree, 3000 + kScrollAnimationMs);
  EXPECT_FALSE(scroller.Key(tree, kRoot, Point{60, 60}, ScrollKey::Up, 4000)) << "at the start: nothing moves";
}

TEST(ScrollController, TheScrollbarsThumbDragsTheContentAndTheTrackPages) {
  MountedTree tree;
  tree.Apply(List(10).Get());  // viewport 100 high at y 20, content 400: thumb 24 long
  ScrollController scroller;
  const float edgeX = 50 + 200 - 4;  // inside the strip at the right edge
  EXPECT_FALSE(scroller.PressScrollbar(tree, kRoot, {60, 60}, 0)) << "the content, not the strip";
  ASSERT_TRUE(scroller.PressScrollbar(tree, kRoot, {edgeX, 20 + kIndicatorMargin + 5}, 0)) << "on the thumb";
  // The thumb's room is 100 - 4 - 24 = 72 px for 300 px of content.
  EXPECT_TRUE(scroller.DragScrollbar(tree, {edgeX, 20 + kIndicatorMargin + 5 + 36}));
  EXPECT_NEAR(tree.Scroll(kScroll)->offset.y, 150, 0.5);
  EXPECT_TRUE(scroller.DragScrollbar(tree, {edgeX, 500}));
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 300) << "clamped at the end";
  EXPECT_TRUE(scroller.ReleaseScrollbar());
  EXPECT_FALSE(scroller.DragScrollbar(tree, {edgeX, 30})) << "the drag ended with the button";

  // A press on the track above the thumb pages up, animated.
  ASSERT_TRUE(scroller.PressScrollbar(tree, kRoot, {edgeX, 25}, 1000));
  EXPECT_FALSE(scroller.ReleaseScrollbar()) << "no drag to end";
  scroller.Tick(tree, 1000 + kScrollAnimationMs);
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 300 - 90);

  MountedTree still;
  still.Apply(List(2).Get());  // nothing to scroll: no scrollbar
  EXPECT_FALSE(scroller.PressScrollbar(still, kRoot, {edgeX, 30}, 0));
}

TEST(ScrolledTree, TheClipOfAViewIsWhatItsScrollViewsLetThrough) {
  MountedTree tree;
  tree.Apply(List(10).Get());
  EXPECT_EQ(tree.ScrollClip(kFirstRow), (Rect{50, 20, 200, 100}));
  EXPECT_FALSE(tree.ScrollClip(kScroll)) << "a scroll view does not clip itself";
  EXPECT_EQ(tree.ScrollViewsIn(kRoot), (std::vector<Tag>{kScroll}));
}

TEST(ScrollController, AnInvertedListTurnsTheWheelRound) {
  ViewStyle flipped;
  flipped.transform = Affine{1, 0, 0, -1, 0, 0};
  MountedTree tree;
  tree.Apply(List(10, {}, flipped).Get());
  ScrollController scroller;
  // Wheel up (towards older messages, drawn above) moves the offset on.
  EXPECT_TRUE(scroller.Wheel(tree, kRoot, {60, 60}, {0, -1}, false, Now()));
  EXPECT_GT(tree.Scroll(kScroll)->offset.y, 0);
}

TEST(ScrollController, CommandsScrollAtOnceOrAnimated) {
  MountedTree tree;
  tree.Apply(List(10).Get());
  ScrollController scroller;
  EXPECT_TRUE(scroller.Command(tree, kScroll, "scrollTo", Props::array({0, 120, false}), 0));
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 120);
  EXPECT_TRUE(scroller.Command(tree, kScroll, "scrollToEnd", Props::array({false}), 0));
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 300);
  EXPECT_TRUE(scroller.Command(tree, kScroll, "scrollTo", Props::array({"x", nullptr}), 0)) << "bad args: stays";
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 300);
  EXPECT_FALSE(scroller.Command(tree, kScroll, "zoom", Props::array(), 0));
  EXPECT_FALSE(scroller.Command(tree, kContent, "scrollTo", Props::array({0, 10, false}), 0));
  EXPECT_FALSE(scroller.Command(tree, 999, "scrollTo", Props::array({0, 10, false}), 0)) << "a view that is gone";

  EXPECT_TRUE(scroller.Command(tree, kScroll, "scrollTo", Props::array({0, 0, true}), 1000));
  EXPECT_TRUE(scroller.Animating());
  EXPECT_TRUE(scroller.Tick(tree, 1100));
  const float midway = tree.Scroll(kScroll)->offset.y;
  EXPECT_GT(midway, 0);
  EXPECT_LT(midway, 300);
  EXPECT_FALSE(scroller.Tick(tree, 1000 + kScrollAnimationMs));
  EXPECT_EQ(tree.Scroll(kScroll)->offset.y, 0);
}

TEST(ScrollController, ScrollEventsAreThrottledAndTheLastPositionAlwaysArrives) {
  ScrollProps throttled;
  throttled.eventThrottleMs = 100;
  MountedTree tree;
  tree.Apply(List(10, throttled).Get());
  ScrollController scroller;
  tree.ScrollTo(kScroll, {0, 10});
  auto events = scroller.TakeEvents(tree, 1000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, "topScroll");
  EXPECT_EQ(events[0].target, kScroll);
  EXPECT_EQ(events[0].payload["contentOffset"]["y"], 10);
  EXPECT_EQ(events[0].payload["contentSize"]["height"], 400);
  EXPECT_EQ(events[0].payload["layoutMeasurement"]["height"], 100);

  tree.ScrollTo(kScroll, {0, 20});
  EXPECT_TRUE(scroller.TakeEvents(tree, 1040).empty()) << "held back";
  tree.ScrollTo(kScroll, {0, 30});
  EXPECT_TRUE(scroller.TakeEvents(tree, 1060).empty());
  EXPECT_EQ(scroller.NextDueMs(), 1100);
  events = scroller.TakeEvents(tree, 1100);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].payload["contentOffset"]["y"], 30) << "the latest position, once";
  EXPECT_EQ(scroller.NextDueMs(), 0);
}

TEST(ScrollController, AFlickGoesOnWithMomentumAndStopsAtTheEdge) {
  MountedTree tree;
  tree.Apply(List(100).Get());
  ScrollController scroller;
  for (int i = 0; i < 5; ++i) scroller.Wheel(tree, kRoot, {60, 60}, {0, 0.5f}, true, 1000 + 10.0 * i);
  const float lifted = tree.Scroll(kScroll)->offset.y;
  scroller.TakeEvents(tree, 1040);
  scroller.TouchpadStop(tree, 1045);
  ASSERT_TRUE(scroller.Animating());
  auto events = scroller.TakeEvents(tree, 1045);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().type, "topMomentumScrollBegin");
  scroller.Tick(tree, 1145);
  EXPECT_GT(tree.Scroll(kScroll)->offset.y, lifted) << "it goes on after the fingers left";
  double now = 1145;
  while (scroller.Tick(tree, now) && now < 20000) now += 16;
  EXPECT_LT(now, 20000) << "it comes to rest";
  events = scroller.TakeEvents(tree, now + 1000);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().type, "topMomentumScrollEnd");

  // A wheel notch stops momentum at once.
  for (int i = 0; i < 5; ++i) scroller.Wheel(tree, kRoot, {60, 60}, {0, 0.5f}, true, 30000 + 10.0 * i);
  scroller.TouchpadStop(tree, 30045);
  ASSERT_TRUE(scroller.Animating());
  scroller.Wheel(tree, kRoot, {60, 60}, {0, -1}, false, 30050);
  EXPECT_FALSE(scroller.Animating());
}

}  // namespace
}  // namespace VirelantDesktop::render
