#include "render/shadow_node.h"

#include <string_view>

#include "render/scroll_view.h"
#include "render/view_props.h"

namespace VirelantDesktop::render {
namespace {

bool DrawsAsView(std::string_view name) {
  return name == "RCTView" || name == "RCTSafeAreaView" || name == "RCTScrollView" ||
         name == "RCTScrollContentView" || name == "AndroidHorizontalScrollView" ||
         name == "AndroidHorizontalScrollContentView" || name == "RootView";
}

NodeRole RoleOf(std::string_view name) {
  if (name == "RCTRawText") return NodeRole::RawText;
  if (name == "RCTVirtualText") return NodeRole::VirtualText;
  return NodeRole::Mounted;
}

// Builds what depends on props alone: the model and the text attributes.
void BuildFromProps(ShadowNode& node) {
  if (node.role == NodeRole::RawText) return;
  if (node.role == NodeRole::VirtualText || node.kind == ViewKind::Paragraph) {
    auto attrs = std::make_shared<TextAttributes>(ParseTextAttributes(node.props));
    if (node.role == NodeRole::Mounted) attrs->backgroundColor.reset();
    node.textAttributes = std::move(attrs);
  }
  if (node.role != NodeRole::Mounted) return;

  auto model = std::make_shared<ViewModel>();
  model->componentName = node.componentName;
  model->kind = node.kind;
  if (node.kind == ViewKind::Native || node.kind == ViewKind::Unknown) model->props = node.props;
  model->style = ParseViewStyle(node.props);
  if (node.kind == ViewKind::Paragraph) model->paragraph = ParseParagraphAttributes(node.props);
  if (node.kind == ViewKind::Image) model->image = ParseImageProps(node.props);
  model->wantsHover = WantsHover(node.props);
  if (const auto it = node.props.find("onLayout"); it != node.props.end() && it->is_boolean()) {
    model->wantsLayout = it->get<bool>();
  }
  if (IsScrollViewComponent(node.componentName)) {
    model->isScrollView = true;
    model->scroll = ParseScrollProps(node.componentName, node.props);
  }
  if (const auto it = node.props.find("testID"); it != node.props.end() && it->is_string()) {
    model->testID = it->get<std::string>();
  }
  if (const auto it = node.props.find("nativeID"); it != node.props.end() && it->is_string()) {
    model->nativeID = it->get<std::string>();
  }
  node.model = std::move(model);
}

}  // namespace

ViewKind KindOfComponent(const std::string& componentName, const NativeComponentLookup& isNative) {
  if (DrawsAsView(componentName)) return ViewKind::View;
  if (componentName == "RCTText" || componentName == "RCTParagraph") return ViewKind::Paragraph;
  if (componentName == "RCTImageView") return ViewKind::Image;
  if (RoleOf(componentName) != NodeRole::Mounted) return ViewKind::View;
  if (isNative && isNative(componentName)) return ViewKind::Native;
  return ViewKind::Unknown;
}

bool MergeProps(Props& props, const Props& diff) {
  if (!diff.is_object()) return false;
  if (!props.is_object()) props = Props::object();
  bool changed = false;
  for (auto it = diff.begin(); it != diff.end(); ++it) {
    if (it.value().is_null()) {
      changed = props.erase(it.key()) > 0 || changed;
      continue;
    }
    auto existing = props.find(it.key());
    if (existing != props.end()) {
      if (*existing == it.value()) continue;
      *existing = it.value();
    } else {
      props.emplace(it.key(), it.value());
    }
    changed = true;
  }
  return changed;
}

ShadowNodePtr MakeShadowNode(Tag tag, std::string componentName, Tag rootTag, Props props,
                             const NativeComponentLookup& isNative) {
  auto node = std::make_shared<ShadowNode>();
  node->tag = tag;
  node->rootTag = rootTag;
  node->role = RoleOf(componentName);
  node->kind = KindOfComponent(componentName, isNative);
  node->componentName = std::move(componentName);
  if (props.is_object()) {
    // Null values mean "unset" in a first payload too.
    for (auto it = props.begin(); it != props.end();) {
      it = it.value().is_null() ? props.erase(it) : std::next(it);
    }
    node->props = std::move(props);
  } else {
    node->props = Props::object();
  }
  BuildFromProps(*node);
  return node;
}

ShadowNodePtr CloneShadowNode(const ShadowNode& node, const Props* propsDiff,
                              const std::vector<ShadowNodePtr>* children) {
  auto clone = std::make_shared<ShadowNode>();
  clone->tag = node.tag;
  clone->rootTag = node.rootTag;
  clone->componentName = node.componentName;
  clone->kind = node.kind;
  clone->role = node.role;
  clone->children = children ? *children : node.children;
  clone->props = node.props;
  if (propsDiff && MergeProps(clone->props, *propsDiff)) {
    BuildFromProps(*clone);
  } else {
    clone->model = node.model;
    clone->textAttributes = node.textAttributes;
  }
  return clone;
}

}  // namespace VirelantDesktop::render
