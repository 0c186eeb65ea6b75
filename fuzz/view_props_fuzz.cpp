// The view props parsers on JSON a bundle may send (inputs that are not JSON
// are skipped). The value itself is parsed, and so is every object or array
// directly inside it, so that nested shapes ("transform" arrays, "source"
// objects) reach the parsers on their own too.
//
//  - ParseViewStyle, in both directions: opacity within 0..1, border widths
//    and radii finite and not negative, the transform finite; when the props
//    name their own "ltr"/"rtl" direction the argument changes nothing, and
//    without start/end keys or "direction" the two results are the same;
//  - ParseTextAttributes: font size finite and positive, weight one of
//    100..900 in hundreds, line height finite and positive, letter spacing
//    finite;
//  - ParseParagraphAttributes: 0 <= numberOfLines <= 1e6;
//  - ParseImageProps: sources with a URI, sizes finite and not negative, a
//    scale finite and positive, blur finite and not negative;
//  - ParseTransform: finite components;
//  - WantsHover only with a hover flag set to true;
//  - non-objects give the defaults.
// Seeds: fuzz/corpus/view_props.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/json_mutator.h"
#include "render/view_props.h"

namespace render = VirelantDesktop::render;
using render::LayoutDirection;
using render::Props;

namespace {

bool Finite(double v) { return std::isfinite(v); }
bool NonNegative(float v) { return std::isfinite(v) && v >= 0; }

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckAffine(const render::Affine& t) {
  Require(Finite(t.a) && Finite(t.b) && Finite(t.c) && Finite(t.d) && Finite(t.tx) && Finite(t.ty));
}

void CheckStyle(const render::ViewStyle& style) {
  Require(style.opacity >= 0 && style.opacity <= 1);
  const render::EdgeInsets& w = style.borderWidth;
  Require(NonNegative(w.left) && NonNegative(w.top) && NonNegative(w.right) && NonNegative(w.bottom));
  const render::CornerRadii& r = style.borderRadius;
  Require(NonNegative(r.topLeft) && NonNegative(r.topRight) && NonNegative(r.bottomLeft) &&
          NonNegative(r.bottomRight));
  CheckAffine(style.transform);
}

bool HasDirectionalKeys(const Props& props) {
  for (auto it = props.begin(); it != props.end(); ++it) {
    const std::string_view key = it.key();
    if (key == "direction" || key.find("Start") != std::string_view::npos ||
        key.find("End") != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

void CheckViewStyle(const Props& props) {
  const render::ViewStyle ltr = render::ParseViewStyle(props, LayoutDirection::Ltr);
  const render::ViewStyle rtl = render::ParseViewStyle(props, LayoutDirection::Rtl);
  CheckStyle(ltr);
  CheckStyle(rtl);
  if (!props.is_object()) {
    Require(ltr == render::ViewStyle{} && rtl == render::ViewStyle{});
    return;
  }
  const auto direction = props.find("direction");
  const bool namesDirection = direction != props.end() && direction->is_string() &&
                              (*direction == "ltr" || *direction == "rtl");
  // The last "direction" key wins; nlohmann keeps one per name.
  if (namesDirection || !HasDirectionalKeys(props)) Require(ltr == rtl);
}

void CheckText(const Props& props) {
  const render::TextAttributes attrs = render::ParseTextAttributes(props);
  if (!props.is_object()) Require(attrs == render::TextAttributes{});
  if (attrs.fontSize) Require(std::isfinite(*attrs.fontSize) && *attrs.fontSize > 0);
  if (attrs.fontWeight) Require(*attrs.fontWeight >= 100 && *attrs.fontWeight <= 900 && *attrs.fontWeight % 100 == 0);
  if (attrs.lineHeight) Require(std::isfinite(*attrs.lineHeight) && *attrs.lineHeight > 0);
  if (attrs.letterSpacing) Require(std::isfinite(*attrs.letterSpacing));
  if (attrs.fontFamily) Require(!attrs.fontFamily->empty());

  const render::ParagraphAttributes paragraph = render::ParseParagraphAttributes(props);
  Require(paragraph.numberOfLines >= 0 && paragraph.numberOfLines <= 1000000);
  if (!props.is_object()) Require(paragraph == render::ParagraphAttributes{});
}

void CheckImage(const Props& props) {
  const render::ImageProps image = render::ParseImageProps(props);
  if (!props.is_object()) Require(image == render::ImageProps{});
  for (const render::ImageSource& source : image.sources) {
    Require(!source.uri.empty());
    Require(NonNegative(source.width) && NonNegative(source.height));
    Require(std::isfinite(source.scale) && source.scale > 0);
  }
  Require(NonNegative(image.blurRadius));
}

void CheckHover(const Props& props) {
  bool flagged = false;
  if (props.is_object()) {
    for (const char* key : {"onMouseEnter", "onMouseLeave", "onPointerEnter", "onPointerLeave", "onPointerMove"}) {
      const auto it = props.find(key);
      flagged = flagged || (it != props.end() && *it == true);
    }
  }
  Require(render::WantsHover(props) == flagged);
}

void CheckAll(const Props& value) {
  CheckViewStyle(value);
  CheckText(value);
  CheckImage(value);
  const render::Affine transform = render::ParseTransform(value);
  CheckAffine(transform);
  if (!value.is_array()) Require(transform == render::Affine{});
  CheckHover(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Props value = Props::parse(data, data + size, nullptr, false);
  if (value.is_discarded()) return 0;
  CheckAll(value);
  if (value.is_structured()) {
    for (const Props& member : value) {
      if (member.is_structured()) CheckAll(member);
    }
  }
  return 0;
}
