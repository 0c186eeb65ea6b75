#include "render/mounted_tree.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/render/ui/tree_builder.h"

namespace VirelantDesktop::render {
namespace {

using testing::Model;
using testing::TransactionBuilder;

constexpr Tag kRoot = 1;

ViewStyle WithPointerEvents(PointerEvents pe) {
  ViewStyle s;
  s.pointerEvents = pe;
  return s;
}

bool Covers(const std::vector<Rect>& rects, Point p) {
  for (const Rect& r : rects) {
    if (r.Contains(p)) return true;
  }
  return false;
}

TEST(MountedTreeTest, AppliesOpsAndShrugsOffBadOnes) {
  MountedTree tree;
  TransactionBuilder t(kRoot);
  t.Add(2, kRoot, {0, 0, 10, 10}).Add(3, kRoot, {0, 0, 10, 10});
  t.Create(4, {0, 0, 5, 5}).Insert(4, kRoot, -7);      // clamped to the front
  t.Create(2, {1, 1, 1, 1}, Model({}, ViewKind::Image));  // second Create: ignored
  t.Insert(99, kRoot, 0).Remove(98, kRoot, 0).Layout(97, {}).Props(96, Model()).Delete(95);
  t.Insert(kRoot, 2, 0);  // a cycle: refused
  t.Insert(2, 2, 0);      // into itself: refused
  tree.Apply(t.Get());

  const MountedView* root = tree.Root(kRoot);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->children, (std::vector<Tag>{4, 2, 3}));
  EXPECT_EQ(tree.Find(2)->model->kind, ViewKind::View);
  EXPECT_EQ(tree.Find(2)->layout.frame, (Rect{0, 0, 10, 10}));
  EXPECT_EQ(tree.Find(2)->parent, kRoot);
  EXPECT_EQ(tree.Find(99), nullptr);
  // The implicit root covers the surface.
  EXPECT_EQ(root->layout.frame, (Rect{0, 0, 400, 300}));

  // Moving a view detaches it from its old parent; a Remove naming the
  // wrong parent leaves it alone; Delete drops it from the map and the parent.
  TransactionBuilder u(kRoot);
  u.Insert(4, 3, 0).Remove(2, 3, 0).Remove(3, kRoot, 2).Delete(3);
  tree.Apply(u.Get());
  EXPECT_EQ(tree.Root(kRoot)->children, (std::vector<Tag>{2}));
  EXPECT_EQ(tree.Find(3), nullptr);
  ASSERT_NE(tree.Find(4), nullptr);
  EXPECT_EQ(tree.Find(4)->parent, 0);  // orphaned with its deleted parent
  EXPECT_FALSE(tree.SurfaceOf(4).has_value());
  EXPECT_FALSE(tree.HitTest(kRoot, {1, 1}) == 4);

  tree.RemoveSurface(kRoot);
  EXPECT_EQ(tree.Find(kRoot), nullptr);
  EXPECT_EQ(tree.Find(2), nullptr);
  EXPECT_NE(tree.Find(4), nullptr);  // not below the root any more
  EXPECT_TRUE(tree.Damage().empty());
}

TEST(MountedTreeTest, AbsoluteGeometryFollowsParentsAndCentredTransforms) {
  MountedTree tree;
  ViewStyle scaled;
  scaled.transform.a = 2;
  scaled.transform.d = 2;
  TransactionBuilder t(kRoot);
  t.Add(2, kRoot, {10, 10, 100, 100}).Add(3, 2, {5, 5, 20, 10}, Model(scaled));
  tree.Apply(t.Get());
  EXPECT_EQ(tree.AbsoluteFrame(2), (Rect{10, 10, 100, 100}));
  // Centre (25, 20), doubled about it.
  EXPECT_EQ(tree.AbsoluteFrame(3), (Rect{5, 10, 40, 20}));
  std::optional<Point> local = tree.ToLocal(3, {25, 20});
  ASSERT_TRUE(local);
  EXPECT_FLOAT_EQ(local->x, 10);
  EXPECT_FLOAT_EQ(local->y, 5);
  EXPECT_EQ(tree.PathTo(3), (std::vector<Tag>{kRoot, 2, 3}));
}

TEST(MountedTreeTest, HitTestingOrderClippingTransformsAndPointerEvents) {
  MountedTree tree;
  ViewStyle clip;
  clip.overflowHidden = true;
  ViewStyle rotated;  // a quarter turn
  rotated.transform = {0, 1, -1, 0, 0, 0};
  TransactionBuilder t(kRoot);
  t.Add(2, kRoot, {0, 0, 100, 100});
  t.Add(3, kRoot, {50, 0, 100, 100});  // later sibling, on top where they overlap
  t.Add(4, kRoot, {200, 0, 50, 50}, Model(clip));
  t.Add(5, 4, {25, 25, 100, 100});     // overhangs its clipping parent
  t.Add(6, kRoot, {0, 200, 100, 20}, Model(rotated));  // turned upright: x 40..60, y 160..260
  t.Add(7, kRoot, {300, 0, 50, 50}, Model(WithPointerEvents(PointerEvents::BoxNone)));
  t.Add(8, 7, {0, 0, 10, 10});
  t.Add(9, kRoot, {300, 100, 50, 50}, Model(WithPointerEvents(PointerEvents::BoxOnly)));
  t.Add(10, 9, {0, 0, 10, 10});
  t.Add(11, kRoot, {300, 200, 50, 50}, Model(WithPointerEvents(PointerEvents::None)));
  t.Add(12, 11, {0, 0, 10, 10});
  tree.Apply(t.Get());

  Point local;
  EXPECT_EQ(tree.HitTest(kRoot, {75, 10}, &local), 3);
  EXPECT_FLOAT_EQ(local.x, 25);
  EXPECT_EQ(tree.HitTest(kRoot, {10, 10}), 2);
  EXPECT_EQ(tree.HitTest(kRoot, {240, 40}), 5);
  EXPECT_EQ(tree.HitTest(kRoot, {260, 40}), kRoot);  // the overhang is clipped away
  EXPECT_EQ(tree.HitTest(kRoot, {50, 250}, &local), 6);
  EXPECT_NEAR(local.x, 90, 1e-3);  // y 250 is 40 past the centre: x 90 before the turn
  EXPECT_EQ(tree.HitTest(kRoot, {30, 250}), kRoot);
  EXPECT_EQ(tree.HitTest(kRoot, {305, 5}), 8);
  EXPECT_EQ(tree.HitTest(kRoot, {330, 30}), kRoot);  // box-none: not itself
  EXPECT_EQ(tree.HitTest(kRoot, {305, 105}), 9);     // box-only: not its children
  EXPECT_EQ(tree.HitTest(kRoot, {305, 205}), kRoot);  // none: neither
  EXPECT_FALSE(tree.HitTest(kRoot, {-1, 5}));
  EXPECT_FALSE(tree.HitTest(kRoot, {NAN, 5}));
  EXPECT_FALSE(tree.HitTest(77, {5, 5}));

  // A transform that flattens a view makes it unhittable instead of dividing by zero.
  ViewStyle flat;
  flat.transform.a = 0;
  TransactionBuilder u(kRoot);
  u.Props(3, Model(flat));
  tree.Apply(u.Get());
  EXPECT_EQ(tree.HitTest(kRoot, {75, 10}), 2);
}

TEST(MountedTreeTest, DamageCoversWhatChangedUntilTaken) {
  MountedTree tree;
  TransactionBuilder t(kRoot);
  t.Add(2, kRoot, {10, 10, 20, 20}).Add(3, 2, {5, 5, 5, 5});
  tree.Apply(t.Get());
  EXPECT_TRUE(Covers(tree.Damage(kRoot), {20, 20}));
  tree.TakeDamage();
  EXPECT_TRUE(tree.Damage().empty());

  // A move damages where the view was and where it went, children included.
  TransactionBuilder u(kRoot);
  u.Layout(2, {100, 100, 20, 20});
  tree.Apply(u.Get());
  std::vector<Rect> moved = tree.TakeDamage(kRoot);
  EXPECT_TRUE(Covers(moved, {15, 15}));
  EXPECT_TRUE(Covers(moved, {110, 110}));
  EXPECT_FALSE(Covers(moved, {60, 60}));

  // A view not attached to the surface changes nothing on screen.
  TransactionBuilder v(kRoot);
  v.Create(9, {0, 0, 50, 50}).Props(9, Model()).Layout(9, {1, 1, 5, 5});
  tree.Apply(v.Get());
  EXPECT_TRUE(tree.Damage().empty());

  // Removing a subtree damages its area, children overhanging included.
  TransactionBuilder w(kRoot);
  w.Layout(3, {30, 30, 10, 10}).Remove(2, kRoot, 0);
  tree.Apply(w.Get());
  tree.TakeDamage();
  TransactionBuilder x(kRoot);
  x.Insert(2, kRoot, 0);
  tree.Apply(x.Get());
  EXPECT_TRUE(Covers(tree.Damage(kRoot), {135, 135}));
}

TEST(MountedTreeTest, ManyDamagedAreasMergeIntoOne) {
  MountedTree tree;
  TransactionBuilder t(kRoot);
  for (int i = 0; i < 100; ++i) t.Add(10 + i, kRoot, {static_cast<float>(i * 3), static_cast<float>(i * 2), 2, 2});
  tree.Apply(t.Get());
  std::vector<Rect> damage = tree.Damage(kRoot);
  EXPECT_LE(damage.size(), 33u);
  EXPECT_TRUE(Covers(damage, {0.5f, 0.5f}));
  EXPECT_TRUE(Covers(damage, {297.5f, 198.5f}));
}

}  // namespace
}  // namespace VirelantDesktop::render
