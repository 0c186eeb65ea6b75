#include "render/yoga_style.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>

#include "render/view_props.h"

namespace VirelantDesktop::render {
namespace {

constexpr double kMaxLength = 1e7;

enum class LengthKind { Points, Percent, Auto };

struct Length {
  LengthKind kind = LengthKind::Points;
  float value = 0;
};

// A number, "N%", "Npx" or "auto".
std::optional<Length> ParseLength(const Props& v) {
  if (const auto n = FiniteNumber(v)) {
    return Length{LengthKind::Points, static_cast<float>(std::clamp(*n, -kMaxLength, kMaxLength))};
  }
  if (!v.is_string()) return std::nullopt;
  const std::string& s = v.get_ref<const std::string&>();
  if (s == "auto") return Length{LengthKind::Auto, 0};
  std::string_view number(s);
  LengthKind kind = LengthKind::Points;
  if (number.ends_with('%')) {
    kind = LengthKind::Percent;
    number.remove_suffix(1);
  } else if (number.ends_with("px")) {
    number.remove_suffix(2);
  } else {
    return std::nullopt;
  }
  const std::string text(number);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return Length{kind, static_cast<float>(std::clamp(value, -kMaxLength, kMaxLength))};
}

std::optional<float> Number(const Props& v) {
  const auto n = FiniteNumber(v);
  if (!n) return std::nullopt;
  return static_cast<float>(std::clamp(*n, -kMaxLength, kMaxLength));
}

const std::string* String(const Props& v) { return v.is_string() ? &v.get_ref<const std::string&>() : nullptr; }

std::optional<YGAlign> ParseAlign(const Props& v) {
  const std::string* s = String(v);
  if (!s) return std::nullopt;
  if (*s == "auto") return YGAlignAuto;
  if (*s == "flex-start" || *s == "start") return YGAlignFlexStart;
  if (*s == "center") return YGAlignCenter;
  if (*s == "flex-end" || *s == "end") return YGAlignFlexEnd;
  if (*s == "stretch") return YGAlignStretch;
  if (*s == "baseline") return YGAlignBaseline;
  if (*s == "space-between") return YGAlignSpaceBetween;
  if (*s == "space-around") return YGAlignSpaceAround;
  if (*s == "space-evenly") return YGAlignSpaceEvenly;
  return std::nullopt;
}

enum class Family { Margin, Padding, Position, Border };

void SetEdge(YGNodeRef node, Family family, YGEdge edge, const Props& v) {
  if (family == Family::Border) {
    if (const auto n = Number(v); n && *n >= 0) YGNodeStyleSetBorder(node, edge, *n);
    return;
  }
  const auto length = ParseLength(v);
  if (!length) return;
  switch (family) {
    case Family::Margin:
      if (length->kind == LengthKind::Auto) YGNodeStyleSetMarginAuto(node, edge);
      else if (length->kind == LengthKind::Percent) YGNodeStyleSetMarginPercent(node, edge, length->value);
      else YGNodeStyleSetMargin(node, edge, length->value);
      break;
    case Family::Padding:
      if (length->value < 0) return;
      if (length->kind == LengthKind::Percent) YGNodeStyleSetPaddingPercent(node, edge, length->value);
      else if (length->kind == LengthKind::Points) YGNodeStyleSetPadding(node, edge, length->value);
      break;
    case Family::Position:
      if (length->kind == LengthKind::Auto) YGNodeStyleSetPositionAuto(node, edge);
      else if (length->kind == LengthKind::Percent) YGNodeStyleSetPositionPercent(node, edge, length->value);
      else YGNodeStyleSetPosition(node, edge, length->value);
      break;
    case Family::Border: break;
  }
}

enum class Dim { Width, Height, MinWidth, MinHeight, MaxWidth, MaxHeight, FlexBasis };

void SetDimension(YGNodeRef node, Dim dim, const Props& v) {
  const auto l = ParseLength(v);
  if (!l) return;
  const bool isAuto = l->kind == LengthKind::Auto;
  const bool pct = l->kind == LengthKind::Percent;
  // Sizes below zero mean nothing; leave them out.
  if (!isAuto && l->value < 0) return;
  const float x = l->value;
  switch (dim) {
    case Dim::Width:
      isAuto ? YGNodeStyleSetWidthAuto(node) : pct ? YGNodeStyleSetWidthPercent(node, x) : YGNodeStyleSetWidth(node, x);
      break;
    case Dim::Height:
      isAuto ? YGNodeStyleSetHeightAuto(node)
             : pct ? YGNodeStyleSetHeightPercent(node, x) : YGNodeStyleSetHeight(node, x);
      break;
    case Dim::FlexBasis:
      isAuto ? YGNodeStyleSetFlexBasisAuto(node)
             : pct ? YGNodeStyleSetFlexBasisPercent(node, x) : YGNodeStyleSetFlexBasis(node, x);
      break;
    case Dim::MinWidth:
      if (!isAuto) pct ? YGNodeStyleSetMinWidthPercent(node, x) : YGNodeStyleSetMinWidth(node, x);
      break;
    case Dim::MinHeight:
      if (!isAuto) pct ? YGNodeStyleSetMinHeightPercent(node, x) : YGNodeStyleSetMinHeight(node, x);
      break;
    case Dim::MaxWidth:
      if (!isAuto) pct ? YGNodeStyleSetMaxWidthPercent(node, x) : YGNodeStyleSetMaxWidth(node, x);
      break;
    case Dim::MaxHeight:
      if (!isAuto) pct ? YGNodeStyleSetMaxHeightPercent(node, x) : YGNodeStyleSetMaxHeight(node, x);
      break;
  }
}

void SetGap(YGNodeRef node, YGGutter gutter, const Props& v) {
  const auto l = ParseLength(v);
  if (!l || l->kind == LengthKind::Auto || l->value < 0) return;
  if (l->kind == LengthKind::Percent) YGNodeStyleSetGapPercent(node, gutter, l->value);
  else YGNodeStyleSetGap(node, gutter, l->value);
}

void SetAspectRatio(YGNodeRef node, const Props& v) {
  std::optional<double> ratio = FiniteNumber(v);
  if (const std::string* s = String(v)) {
    // "16/9" or "1.5".
    const char* text = s->c_str();
    char* end = nullptr;
    const double a = std::strtod(text, &end);
    while (*end == ' ') ++end;
    if (end != text && *end == '\0') {
      ratio = a;
    } else if (end != text && *end == '/') {
      const char* rest = end + 1;
      const double b = std::strtod(rest, &end);
      while (*end == ' ') ++end;
      if (end != rest && *end == '\0' && b != 0) ratio = a / b;
    }
  }
  if (ratio && std::isfinite(*ratio) && *ratio > 0) YGNodeStyleSetAspectRatio(node, static_cast<float>(*ratio));
}

using Setter = void (*)(YGNodeRef, const Props&);

#define TALVEK_EDGE(family, edge) [](YGNodeRef n, const Props& v) { SetEdge(n, Family::family, edge, v); }
#define TALVEK_DIM(dim) [](YGNodeRef n, const Props& v) { SetDimension(n, Dim::dim, v); }

const std::unordered_map<std::string_view, Setter>& Setters() {
  static const std::unordered_map<std::string_view, Setter> setters = {
      {"width", TALVEK_DIM(Width)},
      {"height", TALVEK_DIM(Height)},
      {"minWidth", TALVEK_DIM(MinWidth)},
      {"minHeight", TALVEK_DIM(MinHeight)},
      {"maxWidth", TALVEK_DIM(MaxWidth)},
      {"maxHeight", TALVEK_DIM(MaxHeight)},
      {"flexBasis", TALVEK_DIM(FlexBasis)},
      {"flex", [](YGNodeRef n, const Props& v) { if (const auto x = Number(v)) YGNodeStyleSetFlex(n, *x); }},
      {"flexGrow",
       [](YGNodeRef n, const Props& v) { if (const auto x = Number(v); x && *x >= 0) YGNodeStyleSetFlexGrow(n, *x); }},
      {"flexShrink",
       [](YGNodeRef n, const Props& v) { if (const auto x = Number(v); x && *x >= 0) YGNodeStyleSetFlexShrink(n, *x); }},
      {"flexDirection",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "row") YGNodeStyleSetFlexDirection(n, YGFlexDirectionRow);
         else if (*s == "row-reverse") YGNodeStyleSetFlexDirection(n, YGFlexDirectionRowReverse);
         else if (*s == "column") YGNodeStyleSetFlexDirection(n, YGFlexDirectionColumn);
         else if (*s == "column-reverse") YGNodeStyleSetFlexDirection(n, YGFlexDirectionColumnReverse);
       }},
      {"flexWrap",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "wrap") YGNodeStyleSetFlexWrap(n, YGWrapWrap);
         else if (*s == "nowrap") YGNodeStyleSetFlexWrap(n, YGWrapNoWrap);
         else if (*s == "wrap-reverse") YGNodeStyleSetFlexWrap(n, YGWrapWrapReverse);
       }},
      {"justifyContent",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "flex-start" || *s == "start") YGNodeStyleSetJustifyContent(n, YGJustifyFlexStart);
         else if (*s == "center") YGNodeStyleSetJustifyContent(n, YGJustifyCenter);
         else if (*s == "flex-end" || *s == "end") YGNodeStyleSetJustifyContent(n, YGJustifyFlexEnd);
         else if (*s == "space-between") YGNodeStyleSetJustifyContent(n, YGJustifySpaceBetween);
         else if (*s == "space-around") YGNodeStyleSetJustifyContent(n, YGJustifySpaceAround);
         else if (*s == "space-evenly") YGNodeStyleSetJustifyContent(n, YGJustifySpaceEvenly);
       }},
      {"alignItems",
       [](YGNodeRef n, const Props& v) { if (const auto a = ParseAlign(v)) YGNodeStyleSetAlignItems(n, *a); }},
      {"alignSelf",
       [](YGNodeRef n, const Props& v) { if (const auto a = ParseAlign(v)) YGNodeStyleSetAlignSelf(n, *a); }},
      {"alignContent",
       [](YGNodeRef n, const Props& v) { if (const auto a = ParseAlign(v)) YGNodeStyleSetAlignContent(n, *a); }},
      {"position",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "absolute") YGNodeStyleSetPositionType(n, YGPositionTypeAbsolute);
         else if (*s == "relative") YGNodeStyleSetPositionType(n, YGPositionTypeRelative);
         else if (*s == "static") YGNodeStyleSetPositionType(n, YGPositionTypeStatic);
       }},
      {"display",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "none") YGNodeStyleSetDisplay(n, YGDisplayNone);
         else if (*s == "flex") YGNodeStyleSetDisplay(n, YGDisplayFlex);
         // "contents" is left out: Yoga counts such children only when they
         // are inserted, so a later switch would leave its parent miscounted.
       }},
      {"direction",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "ltr") YGNodeStyleSetDirection(n, YGDirectionLTR);
         else if (*s == "rtl") YGNodeStyleSetDirection(n, YGDirectionRTL);
         else if (*s == "inherit") YGNodeStyleSetDirection(n, YGDirectionInherit);
       }},
      {"overflow",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "visible") YGNodeStyleSetOverflow(n, YGOverflowVisible);
         else if (*s == "hidden") YGNodeStyleSetOverflow(n, YGOverflowHidden);
         else if (*s == "scroll") YGNodeStyleSetOverflow(n, YGOverflowScroll);
       }},
      {"boxSizing",
       [](YGNodeRef n, const Props& v) {
         const std::string* s = String(v);
         if (!s) return;
         if (*s == "border-box") YGNodeStyleSetBoxSizing(n, YGBoxSizingBorderBox);
         else if (*s == "content-box") YGNodeStyleSetBoxSizing(n, YGBoxSizingContentBox);
       }},
      {"aspectRatio", [](YGNodeRef n, const Props& v) { SetAspectRatio(n, v); }},
      {"gap", [](YGNodeRef n, const Props& v) { SetGap(n, YGGutterAll, v); }},
      {"rowGap", [](YGNodeRef n, const Props& v) { SetGap(n, YGGutterRow, v); }},
      {"columnGap", [](YGNodeRef n, const Props& v) { SetGap(n, YGGutterColumn, v); }},

      {"top", TALVEK_EDGE(Position, YGEdgeTop)},
      {"left", TALVEK_EDGE(Position, YGEdgeLeft)},
      {"right", TALVEK_EDGE(Position, YGEdgeRight)},
      {"bottom", TALVEK_EDGE(Position, YGEdgeBottom)},
      {"start", TALVEK_EDGE(Position, YGEdgeStart)},
      {"end", TALVEK_EDGE(Position, YGEdgeEnd)},
      {"inset", TALVEK_EDGE(Position, YGEdgeAll)},
      {"insetBlock", TALVEK_EDGE(Position, YGEdgeVertical)},
      {"insetBlockStart", TALVEK_EDGE(Position, YGEdgeTop)},
      {"insetBlockEnd", TALVEK_EDGE(Position, YGEdgeBottom)},
      {"insetInline", TALVEK_EDGE(Position, YGEdgeHorizontal)},
      {"insetInlineStart", TALVEK_EDGE(Position, YGEdgeStart)},
      {"insetInlineEnd", TALVEK_EDGE(Position, YGEdgeEnd)},

      {"margin", TALVEK_EDGE(Margin, YGEdgeAll)},
      {"marginHorizontal", TALVEK_EDGE(Margin, YGEdgeHorizontal)},
      {"marginVertical", TALVEK_EDGE(Margin, YGEdgeVertical)},
      {"marginTop", TALVEK_EDGE(Margin, YGEdgeTop)},
      {"marginLeft", TALVEK_EDGE(Margin, YGEdgeLeft)},
      {"marginRight", TALVEK_EDGE(Margin, YGEdgeRight)},
      {"marginBottom", TALVEK_EDGE(Margin, YGEdgeBottom)},
      {"marginStart", TALVEK_EDGE(Margin, YGEdgeStart)},
      {"marginEnd", TALVEK_EDGE(Margin, YGEdgeEnd)},
      {"marginBlock", TALVEK_EDGE(Margin, YGEdgeVertical)},
      {"marginBlockStart", TALVEK_EDGE(Margin, YGEdgeTop)},
      {"marginBlockEnd", TALVEK_EDGE(Margin, YGEdgeBottom)},
      {"marginInline", TALVEK_EDGE(Margin, YGEdgeHorizontal)},
      {"marginInlineStart", TALVEK_EDGE(Margin, YGEdgeStart)},
      {"marginInlineEnd", TALVEK_EDGE(Margin, YGEdgeEnd)},

      {"padding", TALVEK_EDGE(Padding, YGEdgeAll)},
      {"paddingHorizontal", TALVEK_EDGE(Padding, YGEdgeHorizontal)},
      {"paddingVertical", TALVEK_EDGE(Padding, YGEdgeVertical)},
      {"paddingTop", TALVEK_EDGE(Padding, YGEdgeTop)},
      {"paddingLeft", TALVEK_EDGE(Padding, YGEdgeLeft)},
      {"paddingRight", TALVEK_EDGE(Padding, YGEdgeRight)},
      {"paddingBottom", TALVEK_EDGE(Padding, YGEdgeBottom)},
      {"paddingStart", TALVEK_EDGE(Padding, YGEdgeStart)},
      {"paddingEnd", TALVEK_EDGE(Padding, YGEdgeEnd)},
      {"paddingBlock", TALVEK_EDGE(Padding, YGEdgeVertical)},
      {"paddingBlockStart", TALVEK_EDGE(Padding, YGEdgeTop)},
      {"paddingBlockEnd", TALVEK_EDGE(Padding, YGEdgeBottom)},
      {"paddingInline", TALVEK_EDGE(Padding, YGEdgeHorizontal)},
      {"paddingInlineStart", TALVEK_EDGE(Padding, YGEdgeStart)},
      {"paddingInlineEnd", TALVEK_EDGE(Padding, YGEdgeEnd)},

      {"borderWidth", TALVEK_EDGE(Border, YGEdgeAll)},
      {"borderTopWidth", TALVEK_EDGE(Border, YGEdgeTop)},
      {"borderLeftWidth", TALVEK_EDGE(Border, YGEdgeLeft)},
      {"borderRightWidth", TALVEK_EDGE(Border, YGEdgeRight)},
      {"borderBottomWidth", TALVEK_EDGE(Border, YGEdgeBottom)},
      {"borderStartWidth", TALVEK_EDGE(Border, YGEdgeStart)},
      {"borderEndWidth", TALVEK_EDGE(Border, YGEdgeEnd)},
  };
  return setters;
}

#undef TALVEK_EDGE
#undef TALVEK_DIM

}  // namespace

void ApplyLayoutProps(YGNodeRef node, const Props& props) {
  if (!props.is_object()) return;
  const auto& setters = Setters();
  for (auto it = props.begin(); it != props.end(); ++it) {
    const auto setter = setters.find(it.key());
    if (setter != setters.end()) setter->second(node, it.value());
  }
}

YogaStyler::YogaStyler(YGConfigConstRef config)
    : defaults_(YGNodeNewWithConfig(config)), scratch_(YGNodeNewWithConfig(config)) {}

YogaStyler::~YogaStyler() {
  YGNodeFree(scratch_);
  YGNodeFree(defaults_);
}

void YogaStyler::Apply(YGNodeRef node, const Props& props) {
  YGNodeCopyStyle(scratch_, defaults_);
  ApplyLayoutProps(scratch_, props);
  // Marks `node` dirty only when the style differs.
  YGNodeCopyStyle(node, scratch_);
}

}  // namespace VirelantDesktop::render
