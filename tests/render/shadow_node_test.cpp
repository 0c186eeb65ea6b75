#include "render/shadow_node.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::render {
namespace {

const NativeComponentLookup kNative = [](const std::string& name) { return name == "MyMap"; };

TEST(ShadowNode, ComponentNamesPickTheKind) {
  struct Case {
    const char* name;
    ViewKind kind;
    NodeRole role;
  };
  for (const Case& c : std::vector<Case>{{"RCTView", ViewKind::View, NodeRole::Mounted},
                                         {"RCTScrollContentView", ViewKind::View, NodeRole::Mounted},
                                         {"AndroidHorizontalScrollView", ViewKind::View, NodeRole::Mounted},
                                         {"RCTParagraph", ViewKind::Paragraph, NodeRole::Mounted},
                                         {"RCTText", ViewKind::Paragraph, NodeRole::Mounted},
                                         {"RCTImageView", ViewKind::Image, NodeRole::Mounted},
                                         {"MyMap", ViewKind::Native, NodeRole::Mounted},
                                         {"Mystery", ViewKind::Unknown, NodeRole::Mounted},
                                         {"RCTRawText", ViewKind::View, NodeRole::RawText},
                                         {"RCTVirtualText", ViewKind::View, NodeRole::VirtualText}}) {
    const auto node = MakeShadowNode(3, c.name, 1, Props::object(), kNative);
    EXPECT_EQ(node->kind, c.kind) << c.name;
    EXPECT_EQ(node->role, c.role) << c.name;
    EXPECT_EQ(node->model == nullptr, c.role != NodeRole::Mounted) << c.name;
  }
  EXPECT_EQ(MakeShadowNode(3, "MyMap", 1, Props::object(), nullptr)->kind, ViewKind::Unknown);
}

TEST(ShadowNode, ModelCarriesParsedProps) {
  const auto node = MakeShadowNode(
      5, "MyMap", 1, Props{{"backgroundColor", "red"}, {"testID", "map"}, {"nativeID", 7}, {"onPointerEnter", true}},
      kNative);
  EXPECT_EQ(node->model->componentName, "MyMap");
  EXPECT_EQ(node->model->style.backgroundColor, (Color{255, 255, 0, 0}));
  EXPECT_EQ(node->model->testID, "map");
  EXPECT_EQ(node->model->nativeID, "") << "a number is not an id";
  EXPECT_TRUE(node->model->wantsHover);
  EXPECT_EQ(node->model->props.at("testID"), "map") << "native components keep the full props";
  EXPECT_TRUE(MakeShadowNode(5, "RCTView", 1, Props{{"a", 1}}, kNative)->model->props.is_null());
  EXPECT_TRUE(MakeShadowNode(5, "RCTView", 1, Props("junk"), kNative)->props.is_object());
}

TEST(ShadowNode, CloneMergesDiffAndSharesWhatDidNotChange) {
  const auto child = MakeShadowNode(7, "RCTView", 1, Props::object(), kNative);
  const auto node = MakeShadowNode(5, "RCTView", 1, Props{{"opacity", 0.5}, {"testID", "a"}}, kNative);

  const std::vector<ShadowNodePtr> kids{child};
  const auto withChildren = CloneShadowNode(*node, nullptr, &kids);
  EXPECT_EQ(withChildren->model, node->model);
  ASSERT_EQ(withChildren->children.size(), 1u);

  const Props diff{{"opacity", nullptr}, {"testID", "b"}, {"flex", 1}};
  const auto changed = CloneShadowNode(*withChildren, &diff, nullptr);
  EXPECT_NE(changed->model, node->model);
  EXPECT_EQ(changed->props, (Props{{"testID", "b"}, {"flex", 1}}));
  EXPECT_EQ(changed->model->style.opacity, 1.0f);
  EXPECT_EQ(changed->model->testID, "b");
  EXPECT_EQ(changed->children, kids);

  // A diff that changes nothing keeps the model.
  const Props same{{"testID", "b"}, {"missing", nullptr}};
  EXPECT_EQ(CloneShadowNode(*changed, &same, nullptr)->model, changed->model);
  const Props notObject = Props::array({1});
  EXPECT_EQ(CloneShadowNode(*changed, &notObject, nullptr)->model, changed->model);
}

TEST(ShadowNode, ParagraphTextAttributesLeaveBackgroundToTheView) {
  const Props props{{"backgroundColor", "red"}, {"color", "blue"}};
  const auto paragraph = MakeShadowNode(3, "RCTParagraph", 1, props, kNative);
  ASSERT_TRUE(paragraph->textAttributes);
  EXPECT_FALSE(paragraph->textAttributes->backgroundColor.has_value());
  EXPECT_TRUE(paragraph->textAttributes->color.has_value());
  EXPECT_EQ(paragraph->model->style.backgroundColor, (Color{255, 255, 0, 0}));
  const auto span = MakeShadowNode(4, "RCTVirtualText", 1, props, kNative);
  EXPECT_TRUE(span->textAttributes->backgroundColor.has_value());
}

}  // namespace
}  // namespace VirelantDesktop::render
