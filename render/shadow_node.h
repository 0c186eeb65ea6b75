// Immutable shadow nodes: what React's renderer creates and clones on the JS
// thread. A node never changes once made; a clone shares whatever did not
// change (the model when only children changed, the children when only
// props changed).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

// What a node is inside the tree, beyond its ViewKind.
enum class NodeRole {
  Mounted,      // laid out and mounted (views, paragraphs, images, ...)
  RawText,      // RCTRawText: a paragraph's text, never laid out or mounted
  VirtualText,  // RCTVirtualText: a nested span, never laid out or mounted
};

struct ShadowNode {
  Tag tag = 0;
  Tag rootTag = 0;
  std::string componentName;
  ViewKind kind = ViewKind::View;
  NodeRole role = NodeRole::Mounted;
  Props props;          // the full merged props
  ViewModelPtr model;   // null for RawText / VirtualText
  // Paragraphs and spans: their own text attributes as parsed from props
  // (a paragraph's carry no backgroundColor: that is its view's).
  std::shared_ptr<const TextAttributes> textAttributes;
  std::vector<std::shared_ptr<const ShadowNode>> children;
};

using ShadowNodePtr = std::shared_ptr<const ShadowNode>;
using NativeComponentLookup = std::function<bool(const std::string&)>;

// Which drawing a component name gets (`isNative` may be empty).
ViewKind KindOfComponent(const std::string& componentName, const NativeComponentLookup& isNative);

ShadowNodePtr MakeShadowNode(Tag tag, std::string componentName, Tag rootTag, Props props,
                             const NativeComponentLookup& isNative);

// `propsDiff`: changed keys, null for removed ones (null pointer: same
// props). `children`: the new child list (null pointer: same children).
ShadowNodePtr CloneShadowNode(const ShadowNode& node, const Props* propsDiff,
                              const std::vector<ShadowNodePtr>* children);

// Merges a props diff into `props` (top-level keys; null deletes). Returns
// whether anything changed.
bool MergeProps(Props& props, const Props& diff);

}  // namespace VirelantDesktop::render
