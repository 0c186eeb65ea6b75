// Small tree builders and a text measurer stand-in for the render tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "render/shadow_node.h"
#include "render/surface_tree.h"
#include "render/text_measurer.h"

namespace VirelantDesktop::render::testing {

inline constexpr Tag kRoot = 1;

// 7 px per character at fontSize 14 (scaled by fontSize / 14), 20 px a line;
// wraps by whole characters at maxWidth.
class FakeMeasurer : public TextMeasurer {
 public:
  Size Measure(const AttributedText& text, const ParagraphAttributes& paragraph, float maxWidth, float,
               float fontScale) const override {
    ++calls;
    float width = 0;
    for (const TextFragment& f : text.fragments) {
      width += static_cast<float>(f.text.size()) * 7.0f * f.attributes.fontSize.value_or(14) / 14.0f * fontScale;
    }
    float lines = 1;
    if (std::isfinite(maxWidth) && maxWidth > 0 && width > maxWidth) lines = std::ceil(width / maxWidth);
    if (paragraph.numberOfLines > 0) lines = std::min(lines, static_cast<float>(paragraph.numberOfLines));
    return Size{std::isfinite(maxWidth) ? std::min(width, maxWidth) : width, lines * 20};
  }
  mutable int calls = 0;
};

inline ShadowNodePtr Node(Tag tag, const std::string& name, Props props = Props::object(),
                          std::vector<ShadowNodePtr> children = {}) {
  auto node = MakeShadowNode(tag, name, kRoot, std::move(props), nullptr);
  if (children.empty()) return node;
  return CloneShadowNode(*node, nullptr, &children);
}

inline ShadowNodePtr View(Tag tag, Props props = Props::object(), std::vector<ShadowNodePtr> children = {}) {
  return Node(tag, "RCTView", std::move(props), std::move(children));
}

inline ShadowNodePtr Raw(Tag tag, const std::string& text) { return Node(tag, "RCTRawText", Props{{"text", text}}); }

inline ShadowNodePtr WithProps(const ShadowNodePtr& node, const Props& diff) {
  return CloneShadowNode(*node, &diff, nullptr);
}

inline ShadowNodePtr WithChildren(const ShadowNodePtr& node, std::vector<ShadowNodePtr> children) {
  return CloneShadowNode(*node, nullptr, &children);
}

inline LayoutConstraints Viewport(float width, float height, float scale = 1,
                                  LayoutDirection direction = LayoutDirection::Ltr) {
  LayoutConstraints c;
  c.size = {width, height};
  c.pointScale = scale;
  c.direction = direction;
  return c;
}

}  // namespace VirelantDesktop::render::testing
