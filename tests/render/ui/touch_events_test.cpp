#include "render/touch_events.h"

#include <gtest/gtest.h>

#include "tests/render/ui/tree_builder.h"

namespace VirelantDesktop::render {
namespace {

using testing::Model;
using testing::TransactionBuilder;

constexpr Tag kRoot = 1;

MountedTree TwoButtons() {
  MountedTree tree;
  TransactionBuilder t(kRoot);
  t.Add(2, kRoot, {10, 20, 100, 50}).Add(3, kRoot, {200, 20, 100, 50});
  tree.Apply(t.Get());
  return tree;
}

TEST(TouchTrackerTest, PressMoveReleaseStayWithTheStartTarget) {
  MountedTree tree = TwoButtons();
  TouchTracker tracker(kRoot);
  tracker.SetScreenOrigin({1000, 500});

  std::vector<ViewEvent> down = tracker.PointerDown(tree, {0, {15, 30}, 100, 1});
  ASSERT_EQ(down.size(), 1u);
  EXPECT_EQ(down[0].type, "topTouchStart");
  EXPECT_EQ(down[0].target, 2);
  const Props& start = down[0].payload;
  EXPECT_EQ(start["identifier"], 0);
  EXPECT_EQ(start["target"], 2);
  EXPECT_FLOAT_EQ(start["locationX"].get<float>(), 5);
  EXPECT_FLOAT_EQ(start["locationY"].get<float>(), 10);
  EXPECT_FLOAT_EQ(start["pageX"].get<float>(), 15);
  EXPECT_FLOAT_EQ(start["screenX"].get<float>(), 1015);
  EXPECT_EQ(start["timestamp"], 100);
  ASSERT_EQ(start["touches"].size(), 1u);
  ASSERT_EQ(start["changedTouches"].size(), 1u);
  EXPECT_EQ(start["changedTouches"][0]["identifier"], 0);

  // Dragged over the other view: still the first, located relative to it.
  std::vector<ViewEvent> move = tracker.PointerMove(tree, {0, {250, 40}, 110, 1});
  ASSERT_EQ(move.size(), 1u);
  EXPECT_EQ(move[0].type, "topTouchMove");
  EXPECT_EQ(move[0].target, 2);
  EXPECT_FLOAT_EQ(move[0].payload["locationX"].get<float>(), 240);
  EXPECT_FLOAT_EQ(move[0].payload["pageX"].get<float>(), 250);

  std::vector<ViewEvent> up = tracker.PointerUp(tree, {0, {250, 40}, 120, 1});
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(up[0].type, "topTouchEnd");
  EXPECT_EQ(up[0].target, 2);
  EXPECT_TRUE(up[0].payload["touches"].empty());  // the ended touch is gone
  EXPECT_EQ(up[0].payload["changedTouches"].size(), 1u);
  EXPECT_EQ(tracker.ActiveTouches(), 0u);

  // Nothing to move or end once released.
  EXPECT_TRUE(tracker.PointerMove(tree, {0, {1, 1}, 130, 1}).empty());
  EXPECT_TRUE(tracker.PointerUp(tree, {0, {1, 1}, 130, 1}).empty());
}

TEST(TouchTrackerTest, SecondFingerGetsTheNextFreeIdentifierAndCancelEndsAll) {
  MountedTree tree = TwoButtons();
  TouchTracker tracker(kRoot);
  tracker.PointerDown(tree, {7, {20, 30}, 1, 1});
  std::vector<ViewEvent> second = tracker.PointerDown(tree, {9, {210, 30}, 2, 1});
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].target, 3);
  EXPECT_EQ(second[0].payload["identifier"], 1);
  EXPECT_EQ(second[0].payload["touches"].size(), 2u);
  EXPECT_EQ(second[0].payload["changedTouches"].size(), 1u);
  // A press while the same pointer is down, a secondary button, or a press
  // on nothing start nothing.
  EXPECT_TRUE(tracker.PointerDown(tree, {7, {20, 30}, 3, 1}).empty());
  EXPECT_TRUE(tracker.PointerDown(tree, {4, {20, 30}, 3, 3}).empty());
  EXPECT_TRUE(tracker.PointerDown(tree, {5, {-50, -50}, 3, 1}).empty());

  tracker.PointerUp(tree, {7, {20, 30}, 4, 1});
  std::vector<ViewEvent> third = tracker.PointerDown(tree, {11, {20, 30}, 5, 1});
  EXPECT_EQ(third[0].payload["identifier"], 0);  // freed, reused

  std::vector<ViewEvent> cancelled = tracker.CancelAll(tree, 6);
  ASSERT_EQ(cancelled.size(), 2u);
  for (const ViewEvent& e : cancelled) EXPECT_EQ(e.type, "topTouchCancel");
  EXPECT_EQ(tracker.ActiveTouches(), 0u);
}

TEST(TouchTrackerTest, TargetDeletedMidTouchStillEndsTheTouch) {
  MountedTree tree = TwoButtons();
  TouchTracker tracker(kRoot);
  tracker.PointerDown(tree, {0, {15, 30}, 1, 1});
  TransactionBuilder t(kRoot);
  t.Remove(2, kRoot, 0).Delete(2);
  tree.Apply(t.Get());
  std::vector<ViewEvent> up = tracker.PointerUp(tree, {0, {99, 99}, 2, 1});
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(up[0].target, 2);
  EXPECT_FLOAT_EQ(up[0].payload["locationX"].get<float>(), 5);  // last known
  EXPECT_FLOAT_EQ(up[0].payload["pageX"].get<float>(), 99);
}

TEST(HoverTrackerTest, EnterLeaveAlongThePathAndTheCursor) {
  MountedTree tree;
  auto hover = std::make_shared<ViewModel>(*Model());
  hover->wantsHover = true;
  auto link = std::make_shared<ViewModel>(*hover);
  link->style.cursor = Cursor::Pointer;
  TransactionBuilder t(kRoot);
  t.Add(2, kRoot, {0, 0, 100, 100}, hover).Add(3, 2, {10, 10, 20, 20}, link).Add(4, 3, {0, 0, 5, 5});
  tree.Apply(t.Get());
  HoverTracker tracker(kRoot);

  HoverResult a = tracker.Move(tree, {50, 50}, 1);
  ASSERT_EQ(a.events.size(), 2u);
  EXPECT_EQ(a.events[0].type, "topPointerEnter");
  EXPECT_EQ(a.events[0].target, 2);
  EXPECT_EQ(a.events[1].type, "topPointerMove");
  EXPECT_EQ(a.events[1].payload["pointerType"], "mouse");
  EXPECT_EQ(a.cursor, Cursor::Auto);

  // Into the grandchild: the link is entered, the cursor comes from it.
  HoverResult b = tracker.Move(tree, {12, 12}, 2);
  ASSERT_EQ(b.events.size(), 2u);
  EXPECT_EQ(b.events[0].type, "topPointerEnter");
  EXPECT_EQ(b.events[0].target, 3);
  EXPECT_FLOAT_EQ(b.events[0].payload["locationX"].get<float>(), 2);
  EXPECT_EQ(b.events[1].target, 4);  // moves go to the view under the pointer
  EXPECT_EQ(b.cursor, Cursor::Pointer);

  HoverResult c = tracker.Move(tree, {300, 300}, 3);
  ASSERT_EQ(c.events.size(), 2u);
  EXPECT_EQ(c.events[0].type, "topPointerLeave");
  EXPECT_EQ(c.events[0].target, 3);  // innermost first
  EXPECT_EQ(c.events[1].target, 2);
  EXPECT_EQ(c.cursor, Cursor::Auto);

  tracker.Move(tree, {50, 50}, 4);
  HoverResult gone = tracker.Leave(tree, {-1, -1}, 5);
  ASSERT_EQ(gone.events.size(), 1u);
  EXPECT_EQ(gone.events[0].type, "topPointerLeave");
}

}  // namespace
}  // namespace VirelantDesktop::render
