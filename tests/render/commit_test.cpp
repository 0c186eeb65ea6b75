// SurfaceTree::Commit: the mount operations a commit yields, and the bad
// trees it must survive.
#include <gtest/gtest.h>

#include <map>

#include "tests/render/render_test_support.h"

namespace VirelantDesktop::render {
namespace {

using namespace testing;

std::string Describe(const MountOp& op) {
  switch (op.kind) {
    case MountKind::Create: return "Create " + std::to_string(op.tag);
    case MountKind::Delete: return "Delete " + std::to_string(op.tag);
    case MountKind::Insert:
      return "Insert " + std::to_string(op.tag) + " " + std::to_string(op.parentTag) + "@" + std::to_string(op.index);
    case MountKind::Remove:
      return "Remove " + std::to_string(op.tag) + " " + std::to_string(op.parentTag) + "@" + std::to_string(op.index);
    case MountKind::UpdateProps: return "Props " + std::to_string(op.tag);
    case MountKind::UpdateLayout: return "Layout " + std::to_string(op.tag);
  }
  return "?";
}

std::vector<std::string> Describe(const MountTransaction& tx) {
  std::vector<std::string> out;
  for (const MountOp& op : tx.ops) out.push_back(Describe(op));
  return out;
}

// Applies operations to a map of parent -> children, checking each is valid
// on the state it meets: what the UI thread's mounted tree would do.
class MountedMirror {
 public:
  void Apply(const MountTransaction& tx) {
    for (const MountOp& op : tx.ops) {
      switch (op.kind) {
        case MountKind::Create:
          ASSERT_FALSE(exists_.count(op.tag)) << Describe(op);
          exists_.insert(op.tag);
          break;
        case MountKind::Delete:
          ASSERT_TRUE(exists_.count(op.tag)) << Describe(op);
          ASSERT_FALSE(parentOf_.count(op.tag)) << "deleted while attached: " << Describe(op);
          exists_.erase(op.tag);
          children_.erase(op.tag);
          break;
        case MountKind::Insert: {
          ASSERT_TRUE(exists_.count(op.tag) && exists_.count(op.parentTag)) << Describe(op);
          ASSERT_FALSE(parentOf_.count(op.tag)) << "inserted while attached: " << Describe(op);
          auto& list = children_[op.parentTag];
          ASSERT_LE(static_cast<size_t>(op.index), list.size()) << Describe(op);
          list.insert(list.begin() + op.index, op.tag);
          parentOf_[op.tag] = op.parentTag;
          break;
        }
        case MountKind::Remove: {
          auto& list = children_[op.parentTag];
          ASSERT_LT(static_cast<size_t>(op.index), list.size()) << Describe(op);
          ASSERT_EQ(list[static_cast<size_t>(op.index)], op.tag) << Describe(op);
          list.erase(list.begin() + op.index);
          parentOf_.erase(op.tag);
          break;
        }
        case MountKind::UpdateProps:
        case MountKind::UpdateLayout: ASSERT_TRUE(exists_.count(op.tag)) << Describe(op); break;
      }
    }
  }
  std::vector<Tag> Children(Tag tag) const {
    const auto it = children_.find(tag);
    return it == children_.end() ? std::vector<Tag>{} : it->second;
  }
  size_t Count() const { return exists_.size(); }

 private:
  std::set<Tag> exists_;
  std::map<Tag, std::vector<Tag>> children_;
  std::map<Tag, Tag> parentOf_;
};

class CommitTest : public ::testing::Test {
 protected:
  void SetUp() override { tree.SetConstraints(Viewport(400, 800)); }
  MountTransaction Commit(std::vector<ShadowNodePtr> children) {
    warnings.clear();
    MountTransaction tx = tree.Commit(std::move(children), &warnings);
    mirror.Apply(tx);
    return tx;
  }

  std::shared_ptr<FakeMeasurer> measurer = std::make_shared<FakeMeasurer>();
  SurfaceTree tree{kRoot, measurer};
  std::vector<std::string> warnings;
  MountedMirror mirror;
};

TEST_F(CommitTest, FirstCommitCreatesThenInsertsInOrder) {
  const MountTransaction tx = Commit({View(2, {{"height", 10}}, {View(3), View(4)}), View(5)});
  EXPECT_EQ(Describe(tx), (std::vector<std::string>{"Create 1", "Create 2", "Create 3", "Create 4", "Create 5",
                                                    "Insert 2 1@0", "Insert 5 1@1", "Insert 3 2@0", "Insert 4 2@1"}));
  EXPECT_EQ(tx.ops[0].model->componentName, "RootView");
  EXPECT_EQ(tx.ops[0].layout.frame, (Rect{0, 0, 400, 800}));
  EXPECT_EQ(tx.ops[1].layout.frame, (Rect{0, 0, 400, 10})) << "a Create carries its layout";
  EXPECT_EQ(tree.NodeCount(), 5u);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(CommitTest, PropChangeUpdatesOnlyThatTag) {
  const auto leaf = View(3, {{"backgroundColor", "red"}});
  const auto sibling = View(4);
  Commit({View(2, Props::object(), {leaf, sibling})});
  const auto changed = WithProps(leaf, {{"backgroundColor", "blue"}});
  const MountTransaction tx = Commit({View(2, Props::object(), {changed, sibling})});
  ASSERT_EQ(Describe(tx), (std::vector<std::string>{"Props 3"}));
  EXPECT_EQ(tx.ops[0].model->style.backgroundColor, (Color{255, 0, 0, 255}));
  EXPECT_EQ(tree.Find(3), changed);
  EXPECT_TRUE(Commit({View(2, Props::object(), {changed, sibling})}).ops.empty());
}

TEST_F(CommitTest, LayoutChangeYieldsUpdateLayoutOnly) {
  const auto a = View(3, {{"height", 10}});
  const auto b = View(4, {{"height", 10}});
  Commit({View(2, Props::object(), {a, b})});
  const MountTransaction tx = Commit({View(2, Props::object(), {WithProps(a, {{"height", 30}}), b})});
  EXPECT_EQ(Describe(tx), (std::vector<std::string>{"Props 3", "Layout 2", "Layout 3", "Layout 4"}));
  EXPECT_EQ(tree.Metrics(4)->frame.y, 30);
}

TEST_F(CommitTest, CommitsThatLeaveLayoutAloneKeepTheRootOnThePixelGrid) {
  // At 1.3 device pixels per point this viewport is no whole number of pixels.
  tree.SetConstraints(Viewport(333.3f, 481.7f, 1.3f));
  const auto leaf = View(3, {{"height", 10}});
  Commit({View(2, {{"flex", 1}}, {leaf})});
  const LayoutMetrics root = *tree.Metrics(kRoot);
  EXPECT_EQ(root.frame.width, tree.Metrics(2)->frame.width);

  const std::vector<ShadowNodePtr> recoloured{View(2, {{"flex", 1}}, {WithProps(leaf, {{"backgroundColor", "red"}})})};
  EXPECT_EQ(Describe(Commit(recoloured)), (std::vector<std::string>{"Props 3"}));
  EXPECT_EQ(*tree.Metrics(kRoot), root);
  EXPECT_TRUE(Commit(recoloured).ops.empty());
  EXPECT_TRUE(tree.Relayout().ops.empty());
  EXPECT_EQ(*tree.Metrics(kRoot), root);
}

TEST_F(CommitTest, RemovalRemovesThenDeletesTheWholeSubtree) {
  Commit({View(2, {{"height", 5}}, {View(3, Props::object(), {View(4), View(5)})}), View(6)});
  const MountTransaction tx = Commit({View(6)});
  const auto ops = Describe(tx);
  EXPECT_EQ(ops, (std::vector<std::string>{"Remove 2 1@0", "Remove 3 2@0", "Remove 5 3@1", "Remove 4 3@0",
                                           "Layout 6", "Delete 5", "Delete 4", "Delete 3", "Delete 2"}));
  EXPECT_EQ(tree.NodeCount(), 2u);
  EXPECT_FALSE(tree.Find(3));
  EXPECT_EQ(mirror.Children(kRoot), (std::vector<Tag>{6}));
}

TEST_F(CommitTest, ReorderKeepsTheLongestRunAndMovesTheRest) {
  std::vector<ShadowNodePtr> kids;
  for (Tag t = 10; t < 16; ++t) kids.push_back(View(t, {{"height", 1}}));
  Commit(kids);
  std::vector<ShadowNodePtr> reordered{kids[5], kids[0], kids[1], kids[2], kids[3], kids[4]};
  const MountTransaction tx = Commit(reordered);
  const auto ops = Describe(tx);
  EXPECT_EQ(std::count_if(ops.begin(), ops.end(), [](const std::string& s) { return s.starts_with("Remove"); }), 1);
  EXPECT_EQ(std::count_if(ops.begin(), ops.end(), [](const std::string& s) { return s.starts_with("Create"); }), 0);
  EXPECT_EQ(mirror.Children(kRoot), (std::vector<Tag>{15, 10, 11, 12, 13, 14}));
  EXPECT_EQ(tree.Metrics(15)->frame.y, 0);
  EXPECT_EQ(tree.Metrics(14)->frame.y, 5);
}

TEST_F(CommitTest, MovingAViewBetweenParentsKeepsIt) {
  const auto moving = View(5);
  Commit({View(2, Props::object(), {moving}), View(3)});
  Commit({View(2), View(3, Props::object(), {moving})});
  EXPECT_EQ(mirror.Children(2), std::vector<Tag>{});
  EXPECT_EQ(mirror.Children(3), (std::vector<Tag>{5}));
  // The old parent goes away while its child lives on elsewhere.
  Commit({View(3), View(7, Props::object(), {moving})});
  EXPECT_EQ(mirror.Children(kRoot), (std::vector<Tag>{3, 7}));
  EXPECT_EQ(mirror.Children(7), (std::vector<Tag>{5}));
  EXPECT_EQ(mirror.Count(), 4u);
}

TEST_F(CommitTest, ParagraphTextChangeUpdatesTheParagraphAndRemeasures) {
  const auto raw = Raw(4, "hello");
  const auto paragraph = Node(3, "RCTParagraph", {{"color", "red"}}, {raw});
  const MountTransaction first = Commit({View(2, {{"alignItems", "flex-start"}}, {paragraph})});
  for (const MountOp& op : first.ops) EXPECT_NE(op.tag, 4) << "raw text is never mounted";
  const ViewModelPtr model = tree.Find(3) ? first.ops[2].model : nullptr;
  ASSERT_TRUE(model && model->text);
  ASSERT_EQ(model->text->fragments.size(), 1u);
  EXPECT_EQ(model->text->fragments[0].text, "hello");
  EXPECT_EQ(model->text->fragments[0].attributes.color, (Color{255, 255, 0, 0}));
  EXPECT_EQ(tree.Metrics(3)->frame.width, 35);

  const auto edited = WithChildren(paragraph, {WithProps(raw, {{"text", "hello world"}})});
  const MountTransaction tx = Commit({View(2, {{"alignItems", "flex-start"}}, {edited})});
  EXPECT_EQ(Describe(tx), (std::vector<std::string>{"Props 3", "Layout 3"}));
  EXPECT_EQ(tx.ops[0].model->text->fragments[0].text, "hello world");
  EXPECT_EQ(tree.Metrics(3)->frame.width, 77);

  // Same text in a new node: nothing to mount.
  const auto sameText = WithChildren(edited, {Raw(4, "hello world")});
  EXPECT_TRUE(Commit({View(2, {{"alignItems", "flex-start"}}, {sameText})}).ops.empty());
}

TEST_F(CommitTest, SpansInheritFromTheirEnclosingSpan) {
  const auto paragraph = Node(3, "RCTParagraph", {{"fontSize", 20}, {"color", "red"}, {"backgroundColor", "blue"}},
                              {Raw(4, "a"),
                               Node(5, "RCTVirtualText", {{"fontWeight", "bold"}, {"backgroundColor", "yellow"}},
                                    {Raw(6, "b"), Node(7, "RCTVirtualText", {{"color", "green"}}, {Raw(8, "c")})})});
  Commit({paragraph});
  const auto& fragments = tree.Find(3) ? Commit({WithProps(paragraph, {{"numberOfLines", 1}})}).ops.at(0).model->text->fragments
                                       : std::vector<TextFragment>{};
  ASSERT_EQ(fragments.size(), 3u);
  EXPECT_EQ(fragments[0].attributes.fontSize, 20.0f);
  EXPECT_FALSE(fragments[0].attributes.backgroundColor.has_value()) << "the paragraph's background is its view's";
  EXPECT_EQ(fragments[1].attributes.fontWeight, 700);
  EXPECT_EQ(fragments[1].attributes.color, (Color{255, 255, 0, 0}));
  EXPECT_EQ(fragments[2].attributes.color, (Color{255, 0, 128, 0}));
  EXPECT_EQ(fragments[2].attributes.fontWeight, 700);
  EXPECT_EQ(fragments[2].attributes.backgroundColor, (Color{255, 255, 255, 0}));
}

TEST_F(CommitTest, UnknownComponentsWarnOncePerName) {
  Commit({Node(2, "FancyThing"), Node(3, "FancyThing")});
  EXPECT_EQ(warnings, (std::vector<std::string>{"Unimplemented component: FancyThing"}));
  Commit({Node(2, "FancyThing"), Node(3, "FancyThing"), Node(4, "FancyThing")});
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(tree.Find(4)->kind, ViewKind::Unknown);
}

TEST_F(CommitTest, ATagUsedTwiceKeepsTheFirst) {
  const auto shared = View(3, {{"height", 10}});
  const MountTransaction tx = Commit({View(2, Props::object(), {shared}), shared, View(3, {{"height", 99}})});
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("appears twice"), std::string::npos);
  EXPECT_EQ(mirror.Children(kRoot), (std::vector<Tag>{2}));
  EXPECT_EQ(mirror.Children(2), (std::vector<Tag>{3}));
  EXPECT_EQ(tree.Metrics(3)->frame.height, 10);
  EXPECT_EQ(std::count_if(tx.ops.begin(), tx.ops.end(), [](const MountOp& op) { return op.kind == MountKind::Create; }),
            3);
}

TEST_F(CommitTest, TheRootOrAnAncestorAsAChildIsDropped) {
  // A child reusing its ancestor's tag (the nearest a tree of immutable nodes
  // gets to a cycle) and the root's own tag.
  const auto inner = View(3, Props::object(), {View(2), View(kRoot)});
  Commit({View(2, Props::object(), {inner})});
  EXPECT_EQ(warnings.size(), 2u);
  EXPECT_EQ(mirror.Children(3), std::vector<Tag>{});
  EXPECT_EQ(mirror.Count(), 3u);
}

TEST_F(CommitTest, TooDeepTreesAreCutWithOneWarning) {
  ShadowNodePtr chain = View(100000, Props::object(), {View(200000), View(200001)});
  for (Tag t = 99999; t > 100000 - 400; --t) chain = View(t, Props::object(), {chain});
  Commit({chain});
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("deeper than 256"), std::string::npos);
  EXPECT_EQ(tree.NodeCount(), static_cast<size_t>(kMaxTreeDepth) + 1);
  // Cutting it down again works like any removal.
  Commit({View(5)});
  EXPECT_EQ(tree.NodeCount(), 2u);
  EXPECT_EQ(mirror.Count(), 2u);
}

TEST_F(CommitTest, SharedSpansDoNotMultiplyWithoutBound) {
  // Each level lists the level below twice: 2^60 paths if walked naively.
  ShadowNodePtr span = Node(1000, "RCTVirtualText", Props::object(), {Raw(1001, "x")});
  for (Tag t = 999; t > 940; --t) span = Node(t, "RCTVirtualText", Props::object(), {span, span});
  Commit({Node(3, "RCTParagraph", Props::object(), {span})});
  ASSERT_TRUE(tree.Find(3));
}

TEST_F(CommitTest, TextOutsideAParagraphAndViewsInsideOneAreDropped) {
  Commit({View(2, Props::object(), {Raw(3, "loose")}),
          Node(4, "RCTParagraph", Props::object(), {Raw(5, "ok"), View(6)})});
  EXPECT_EQ(warnings.size(), 2u);
  EXPECT_EQ(mirror.Count(), 3u) << "root, 2, 4: text and the inline view are not mounted";
}

TEST_F(CommitTest, WrongPropTypesAndHugeNumbersSurvive) {
  Commit({View(2, Props::parse(R"({"width": 1e308, "height": -1e308, "opacity": "x", "transform": 5,
                                   "backgroundColor": [1], "padding": 1e39, "flex": 1e30})"),
               {Node(3, "RCTParagraph", {{"fontSize", 1e300}, {"numberOfLines", 1e300}}, {Raw(4, "x")}),
                Node(5, "RCTImageView", {{"source", {{"uri", 3}}}})})});
  for (Tag tag : {2, 3, 5}) {
    const Rect f = tree.Metrics(tag)->frame;
    for (float v : {f.x, f.y, f.width, f.height}) EXPECT_TRUE(std::isfinite(v)) << tag;
  }
}

TEST_F(CommitTest, ComponentChangeUnderTheSameTagSwitchesMeasuring) {
  Commit({View(3, Props::object(), {View(4)})});
  // Bad input: the same tag comes back as a paragraph, then as a view again.
  Commit({Node(3, "RCTParagraph", Props::object(), {Raw(5, "abc")})});
  EXPECT_EQ(tree.Metrics(3)->frame.height, 20);
  EXPECT_EQ(mirror.Count(), 2u);
  Commit({View(3, Props::object(), {View(6, {{"height", 7}})})});
  EXPECT_EQ(tree.Metrics(3)->frame.height, 7);
}

TEST_F(CommitTest, HundredThousandNodesCommitAndClear) {
  std::vector<ShadowNodePtr> rows;
  Tag tag = 10;
  for (int i = 0; i < 1000; ++i) {
    std::vector<ShadowNodePtr> cells;
    for (int j = 0; j < 99; ++j) cells.push_back(View(tag++, {{"height", 1}}));
    rows.push_back(View(tag++, {{"flexDirection", "row"}}, std::move(cells)));
  }
  Commit(rows);
  EXPECT_EQ(tree.NodeCount(), 100001u);
  Commit({});
  EXPECT_EQ(tree.NodeCount(), 1u);
  EXPECT_EQ(mirror.Count(), 1u);
}

TEST_F(CommitTest, AbsoluteFrameAddsUpTheParents) {
  Commit({View(2, {{"padding", 10}}, {View(3, {{"marginTop", 5}, {"paddingLeft", 4}}, {View(4, {{"height", 3}})})})});
  EXPECT_EQ(tree.AbsoluteFrame(4), (Rect{14, 15, 376, 3}));
  EXPECT_FALSE(tree.AbsoluteFrame(99).has_value());
}

}  // namespace
}  // namespace VirelantDesktop::render
