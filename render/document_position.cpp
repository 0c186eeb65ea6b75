#include "render/document_position.h"

#include <algorithm>
#include <vector>

namespace VirelantDesktop::render {
namespace {

// Root first, `tag` last; empty when not committed.
std::vector<Tag> PathFromRoot(const SurfaceTree& tree, Tag tag) {
  std::vector<Tag> path;
  if (!IsCommitted(tree, tag)) return path;
  path.push_back(tag);
  while (auto parent = tree.ParentOf(path.back())) {
    if (path.size() > static_cast<size_t>(kMaxTreeDepth) + 2) return {};  // not a tree
    path.push_back(*parent);
  }
  if (path.back() != tree.RootTag()) return {};
  std::reverse(path.begin(), path.end());
  return path;
}

}  // namespace

bool IsCommitted(const SurfaceTree& tree, Tag tag) { return tag == tree.RootTag() || tree.ParentOf(tag).has_value(); }

int CompareDocumentPosition(const SurfaceTree& tree, Tag node, Tag other) {
  if (node == other) return IsCommitted(tree, node) ? 0 : kPositionDisconnected;
  const std::vector<Tag> a = PathFromRoot(tree, node);
  const std::vector<Tag> b = PathFromRoot(tree, other);
  if (a.empty() || b.empty()) return kPositionDisconnected;
  size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  if (common == b.size()) return kPositionContains | kPositionPreceding;      // other is above node
  if (common == a.size()) return kPositionContainedBy | kPositionFollowing;   // other is below node
  const std::vector<Tag> siblings = tree.ChildrenOf(a[common - 1]);
  const auto nodeBranch = std::find(siblings.begin(), siblings.end(), a[common]);
  const auto otherBranch = std::find(siblings.begin(), siblings.end(), b[common]);
  return otherBranch < nodeBranch ? kPositionPreceding : kPositionFollowing;
}

}  // namespace VirelantDesktop::render
