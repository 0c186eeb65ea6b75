// Where one committed view stands relative to another, as the DOM's
// Node.compareDocumentPosition answers it (the framework's element API
// asks the host this).
#pragma once

#include "render/surface_tree.h"

namespace VirelantDesktop::render {

// The DOM's bits.
inline constexpr int kPositionDisconnected = 1;
inline constexpr int kPositionPreceding = 2;
inline constexpr int kPositionFollowing = 4;
inline constexpr int kPositionContains = 8;
inline constexpr int kPositionContainedBy = 16;

// `other` relative to `node`: 0 for the same view; disconnected when
// either is not in the last commit; contains|preceding when `other` is an
// ancestor, containedBy|following when it is a descendant; else preceding
// or following in tree order.
int CompareDocumentPosition(const SurfaceTree& tree, Tag node, Tag other);

// Whether the view is in the last commit of `tree` (the root included).
bool IsCommitted(const SurfaceTree& tree, Tag tag);

}  // namespace VirelantDesktop::render
