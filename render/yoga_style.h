// Layout props onto Yoga nodes: the flexbox set React Native supports.
#pragma once

#include <yoga/Yoga.h>

#include "render/render_types.h"

namespace VirelantDesktop::render {

// Sets every layout prop `props` names on `node`, on top of whatever style
// the node has. Values of the wrong type or out of range are left out.
void ApplyLayoutProps(YGNodeRef node, const Props& props);

// Gives nodes the style their props describe, starting from Yoga's defaults
// each time. Only a style that really differs marks the node dirty, so a
// props change that touches no layout prop costs no layout.
class YogaStyler {
 public:
  explicit YogaStyler(YGConfigConstRef config);
  ~YogaStyler();
  YogaStyler(const YogaStyler&) = delete;
  YogaStyler& operator=(const YogaStyler&) = delete;

  void Apply(YGNodeRef node, const Props& props);

 private:
  YGNodeRef defaults_;
  YGNodeRef scratch_;
};

}  // namespace VirelantDesktop::render
