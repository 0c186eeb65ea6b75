// Where committed views stand relative to each other, as the element API
// asks: ancestors, descendants, tree order, and views not (or no longer)
// committed.
#include "render/document_position.h"

#include <gtest/gtest.h>

#include "tests/render/render_test_support.h"

namespace VirelantDesktop::render {
namespace {

using namespace testing;

TEST(DocumentPosition, AncestorsDescendantsAndTreeOrder) {
  SurfaceTree tree(kRoot, std::make_shared<FakeMeasurer>());
  tree.SetConstraints(Viewport(200, 200));
  //      1
  //    2   5
  //   3 4    6
  tree.Commit({View(2, {}, {View(3), View(4)}), View(5, {}, {View(6)})}, nullptr);

  EXPECT_EQ(CompareDocumentPosition(tree, 3, 3), 0);
  EXPECT_EQ(CompareDocumentPosition(tree, 3, 2), kPositionContains | kPositionPreceding);
  EXPECT_EQ(CompareDocumentPosition(tree, 6, kRoot), kPositionContains | kPositionPreceding);
  EXPECT_EQ(CompareDocumentPosition(tree, 2, 4), kPositionContainedBy | kPositionFollowing);
  EXPECT_EQ(CompareDocumentPosition(tree, 3, 4), kPositionFollowing);
  EXPECT_EQ(CompareDocumentPosition(tree, 4, 3), kPositionPreceding);
  EXPECT_EQ(CompareDocumentPosition(tree, 4, 6), kPositionFollowing);  // across branches
  EXPECT_EQ(CompareDocumentPosition(tree, 6, 3), kPositionPreceding);
  EXPECT_EQ(tree.ChildrenOf(kRoot), (std::vector<Tag>{2, 5}));
  EXPECT_EQ(tree.ChildrenOf(2), (std::vector<Tag>{3, 4}));

  // 5 and 6 go away; they are no longer part of the document.
  tree.Commit({View(2, {}, {View(3), View(4)})}, nullptr);
  EXPECT_FALSE(IsCommitted(tree, 6));
  EXPECT_TRUE(IsCommitted(tree, kRoot));
  EXPECT_EQ(CompareDocumentPosition(tree, 3, 6), kPositionDisconnected);
  EXPECT_EQ(CompareDocumentPosition(tree, 6, 6), kPositionDisconnected);
  EXPECT_EQ(CompareDocumentPosition(tree, 99, 3), kPositionDisconnected);
  EXPECT_TRUE(tree.ChildrenOf(6).empty());
}

}  // namespace
}  // namespace VirelantDesktop::render
