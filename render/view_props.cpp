#include "render/view_props.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <string_view>
#include <unordered_map>

#include "render/affine_math.h"
#include "render/color.h"

namespace VirelantDesktop::render {
namespace {

// Keeps lengths in a range float arithmetic handles without overflow.
constexpr double kMaxLength = 1e7;

std::optional<float> Length(const Props& value) {
  const auto v = FiniteNumber(value);
  if (!v) return std::nullopt;
  return static_cast<float>(std::clamp(*v, -kMaxLength, kMaxLength));
}

std::optional<float> NonNegativeLength(const Props& value) {
  const auto v = Length(value);
  if (!v || *v < 0) return std::nullopt;
  return v;
}

const std::string* String(const Props& value) {
  return value.is_string() ? &value.get_ref<const std::string&>() : nullptr;
}

std::optional<bool> Bool(const Props& value) {
  if (value.is_boolean()) return value.get<bool>();
  return std::nullopt;
}

enum class ViewKey {
  BackgroundColor, Opacity, BorderWidth, BorderLeftWidth, BorderTopWidth, BorderRightWidth,
  BorderBottomWidth, BorderStartWidth, BorderEndWidth, BorderColor, BorderLeftColor, BorderTopColor,
  BorderRightColor, BorderBottomColor, BorderStartColor, BorderEndColor, BorderRadius,
  BorderTopLeftRadius, BorderTopRightRadius, BorderBottomLeftRadius, BorderBottomRightRadius,
  BorderTopStartRadius, BorderTopEndRadius, BorderBottomStartRadius, BorderBottomEndRadius, Overflow,
  Transform, PointerEvents, Cursor, Direction,
};

const std::unordered_map<std::string_view, ViewKey>& ViewKeys() {
  static const std::unordered_map<std::string_view, ViewKey> keys = {
      {"backgroundColor", ViewKey::BackgroundColor},
      {"opacity", ViewKey::Opacity},
      {"borderWidth", ViewKey::BorderWidth},
      {"borderLeftWidth", ViewKey::BorderLeftWidth},
      {"borderTopWidth", ViewKey::BorderTopWidth},
      {"borderRightWidth", ViewKey::BorderRightWidth},
      {"borderBottomWidth", ViewKey::BorderBottomWidth},
      {"borderStartWidth", ViewKey::BorderStartWidth},
      {"borderEndWidth", ViewKey::BorderEndWidth},
      {"borderColor", ViewKey::BorderColor},
      {"borderLeftColor", ViewKey::BorderLeftColor},
      {"borderTopColor", ViewKey::BorderTopColor},
      {"borderRightColor", ViewKey::BorderRightColor},
      {"borderBottomColor", ViewKey::BorderBottomColor},
      {"borderStartColor", ViewKey::BorderStartColor},
      {"borderEndColor", ViewKey::BorderEndColor},
      {"borderRadius", ViewKey::BorderRadius},
      {"borderTopLeftRadius", ViewKey::BorderTopLeftRadius},
      {"borderTopRightRadius", ViewKey::BorderTopRightRadius},
      {"borderBottomLeftRadius", ViewKey::BorderBottomLeftRadius},
      {"borderBottomRightRadius", ViewKey::BorderBottomRightRadius},
      {"borderTopStartRadius", ViewKey::BorderTopStartRadius},
      {"borderTopEndRadius", ViewKey::BorderTopEndRadius},
      {"borderBottomStartRadius", ViewKey::BorderBottomStartRadius},
      {"borderBottomEndRadius", ViewKey::BorderBottomEndRadius},
      {"overflow", ViewKey::Overflow},
      {"transform", ViewKey::Transform},
      {"pointerEvents", ViewKey::PointerEvents},
      {"cursor", ViewKey::Cursor},
      {"direction", ViewKey::Direction},
  };
  return keys;
}

// Side values before start/end resolve against the direction.
template <typename T>
struct Sides {
  std::optional<T> all, left, top, right, bottom, start, end;

  // Physical sides; start/end win over left/right, specific sides over `all`.
  void Resolve(bool rtl, T fallback, T& outLeft, T& outTop, T& outRight, T& outBottom) const {
    const auto& leading = rtl ? end : start;
    const auto& trailing = rtl ? start : end;
    outLeft = leading ? *leading : left ? *left : all ? *all : fallback;
    outRight = trailing ? *trailing : right ? *right : all ? *all : fallback;
    outTop = top ? *top : all ? *all : fallback;
    outBottom = bottom ? *bottom : all ? *all : fallback;
  }
};

std::optional<double> Angle(const Props& value) {
  const std::string* text = String(value);
  if (!text) return std::nullopt;
  std::string_view s(*text);
  double factor = 1;
  if (s.ends_with("deg")) {
    factor = std::numbers::pi / 180.0;
    s.remove_suffix(3);
  } else if (s.ends_with("rad")) {
    s.remove_suffix(3);
  } else if (s != "0") {
    return std::nullopt;
  }
  const std::string number(s);
  char* end = nullptr;
  const double v = std::strtod(number.c_str(), &end);
  if (number.empty() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v * factor;
}

std::optional<Affine> MatrixOperation(const Props& value) {
  if (!value.is_array() || (value.size() != 16 && value.size() != 9)) return std::nullopt;
  double m[16] = {};
  for (size_t i = 0; i < value.size(); ++i) {
    const auto v = FiniteNumber(value[i]);
    if (!v) return std::nullopt;
    m[i] = *v;
  }
  // Column-major, as React Native's matrices are.
  if (value.size() == 16) return Affine{m[0], m[1], m[4], m[5], m[12], m[13]};
  return Affine{m[0], m[1], m[3], m[4], m[6], m[7]};
}

std::optional<Affine> Operation(std::string_view name, const Props& value) {
  Affine op;
  if (name == "translateX" || name == "translateY") {
    const auto v = FiniteNumber(value);
    if (!v) return std::nullopt;
    (name == "translateX" ? op.tx : op.ty) = *v;
  } else if (name == "translate") {
    if (!value.is_array() || value.empty() || value.size() > 3) return std::nullopt;
    const auto x = FiniteNumber(value[0]);
    const auto y = value.size() > 1 ? FiniteNumber(value[1]) : std::optional<double>(0);
    if (!x || !y) return std::nullopt;
    op.tx = *x;
    op.ty = *y;
  } else if (name == "scale" || name == "scaleX" || name == "scaleY") {
    const auto v = FiniteNumber(value);
    if (!v) return std::nullopt;
    if (name != "scaleY") op.a = *v;
    if (name != "scaleX") op.d = *v;
  } else if (name == "rotate" || name == "rotateZ") {
    const auto angle = Angle(value);
    if (!angle) return std::nullopt;
    const double c = std::cos(*angle), s = std::sin(*angle);
    op = Affine{c, s, -s, c, 0, 0};
  } else if (name == "skewX" || name == "skewY") {
    const auto angle = Angle(value);
    if (!angle) return std::nullopt;
    (name == "skewX" ? op.c : op.b) = std::tan(*angle);
  } else if (name == "matrix") {
    return MatrixOperation(value);
  } else {
    // rotateX/rotateY/perspective have no 2-D form: left out.
    return std::nullopt;
  }
  return op;
}

}  // namespace

std::optional<double> FiniteNumber(const Props& value) {
  if (!value.is_number()) return std::nullopt;
  const double v = value.get<double>();
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

Affine ParseTransform(const Props& transform) {
  Affine result;
  if (!transform.is_array()) return result;
  for (const Props& item : transform) {
    if (!item.is_object() || item.size() != 1) continue;
    const auto it = item.begin();
    if (const auto op = Operation(it.key(), it.value())) result = Multiply(result, *op);
  }
  const double values[] = {result.a, result.b, result.c, result.d, result.tx, result.ty};
  for (double v : values) {
    if (!std::isfinite(v)) return Affine{};
  }
  return result;
}

ViewStyle ParseViewStyle(const Props& props, LayoutDirection direction) {
  ViewStyle style;
  if (!props.is_object()) return style;
  Sides<float> widths;
  Sides<Color> colors;
  std::optional<float> radius, topLeft, topRight, bottomLeft, bottomRight, topStart, topEnd, bottomStart,
      bottomEnd;
  const auto& keys = ViewKeys();
  for (auto it = props.begin(); it != props.end(); ++it) {
    const auto key = keys.find(it.key());
    if (key == keys.end()) continue;
    const Props& v = it.value();
    switch (key->second) {
      case ViewKey::BackgroundColor:
        if (const auto c = ParseColor(v)) style.backgroundColor = *c;
        break;
      case ViewKey::Opacity:
        if (const auto o = FiniteNumber(v)) style.opacity = static_cast<float>(std::clamp(*o, 0.0, 1.0));
        break;
      case ViewKey::BorderWidth: widths.all = NonNegativeLength(v); break;
      case ViewKey::BorderLeftWidth: widths.left = NonNegativeLength(v); break;
      case ViewKey::BorderTopWidth: widths.top = NonNegativeLength(v); break;
      case ViewKey::BorderRightWidth: widths.right = NonNegativeLength(v); break;
      case ViewKey::BorderBottomWidth: widths.bottom = NonNegativeLength(v); break;
      case ViewKey::BorderStartWidth: widths.start = NonNegativeLength(v); break;
      case ViewKey::BorderEndWidth: widths.end = NonNegativeLength(v); break;
      case ViewKey::BorderColor: colors.all = ParseColor(v); break;
      case ViewKey::BorderLeftColor: colors.left = ParseColor(v); break;
      case ViewKey::BorderTopColor: colors.top = ParseColor(v); break;
      case ViewKey::BorderRightColor: colors.right = ParseColor(v); break;
      case ViewKey::BorderBottomColor: colors.bottom = ParseColor(v); break;
      case ViewKey::BorderStartColor: colors.start = ParseColor(v); break;
      case ViewKey::BorderEndColor: colors.end = ParseColor(v); break;
      case ViewKey::BorderRadius: radius = NonNegativeLength(v); break;
      case ViewKey::BorderTopLeftRadius: topLeft = NonNegativeLength(v); break;
      case ViewKey::BorderTopRightRadius: topRight = NonNegativeLength(v); break;
      case ViewKey::BorderBottomLeftRadius: bottomLeft = NonNegativeLength(v); break;
      case ViewKey::BorderBottomRightRadius: bottomRight = NonNegativeLength(v); break;
      case ViewKey::BorderTopStartRadius: topStart = NonNegativeLength(v); break;
      case ViewKey::BorderTopEndRadius: topEnd = NonNegativeLength(v); break;
      case ViewKey::BorderBottomStartRadius: bottomStart = NonNegativeLength(v); break;
      case ViewKey::BorderBottomEndRadius: bottomEnd = NonNegativeLength(v); break;
      case ViewKey::Overflow:
        if (const std::string* s = String(v)) style.overflowHidden = *s == "hidden" || *s == "scroll";
        break;
      case ViewKey::Transform: style.transform = ParseTransform(v); break;
      case ViewKey::PointerEvents:
        if (const std::string* s = String(v)) {
          if (*s == "none") style.pointerEvents = PointerEvents::None;
          else if (*s == "box-none") style.pointerEvents = PointerEvents::BoxNone;
          else if (*s == "box-only") style.pointerEvents = PointerEvents::BoxOnly;
        }
        break;
      case ViewKey::Cursor:
        if (const std::string* s = String(v); s && *s == "pointer") style.cursor = Cursor::Pointer;
        break;
      case ViewKey::Direction:
        if (const std::string* s = String(v)) {
          if (*s == "rtl") direction = LayoutDirection::Rtl;
          else if (*s == "ltr") direction = LayoutDirection::Ltr;
        }
        break;
    }
  }
  const bool rtl = direction == LayoutDirection::Rtl;
  EdgeInsets& w = style.borderWidth;
  widths.Resolve(rtl, 0.0f, w.left, w.top, w.right, w.bottom);
  BorderColors& bc = style.borderColor;
  const Color black{255, 0, 0, 0};
  colors.Resolve(rtl, black, bc.left, bc.top, bc.right, bc.bottom);
  // A side without width draws nothing: leave its colour unset.
  if (w.left == 0 && !colors.left && !colors.all && !(rtl ? colors.end : colors.start)) bc.left = {};
  if (w.right == 0 && !colors.right && !colors.all && !(rtl ? colors.start : colors.end)) bc.right = {};
  if (w.top == 0 && !colors.top && !colors.all) bc.top = {};
  if (w.bottom == 0 && !colors.bottom && !colors.all) bc.bottom = {};

  const float r = radius.value_or(0);
  CornerRadii& cr = style.borderRadius;
  const auto& leadTop = rtl ? topEnd : topStart;
  const auto& trailTop = rtl ? topStart : topEnd;
  const auto& leadBottom = rtl ? bottomEnd : bottomStart;
  const auto& trailBottom = rtl ? bottomStart : bottomEnd;
  cr.topLeft = leadTop.value_or(topLeft.value_or(r));
  cr.topRight = trailTop.value_or(topRight.value_or(r));
  cr.bottomLeft = leadBottom.value_or(bottomLeft.value_or(r));
  cr.bottomRight = trailBottom.value_or(bottomRight.value_or(r));
  return style;
}

TextAttributes ParseTextAttributes(const Props& props) {
  TextAttributes attrs;
  if (!props.is_object()) return attrs;
  for (auto it = props.begin(); it != props.end(); ++it) {
    const std::string& key = it.key();
    const Props& v = it.value();
    if (key == "color") {
      attrs.color = ParseColor(v);
    } else if (key == "backgroundColor") {
      attrs.backgroundColor = ParseColor(v);
    } else if (key == "fontSize") {
      if (const auto n = FiniteNumber(v); n && *n > 0) attrs.fontSize = static_cast<float>(std::min(*n, 10000.0));
    } else if (key == "fontWeight") {
      std::optional<double> weight;
      if (const std::string* s = String(v)) {
        if (*s == "normal") weight = 400;
        else if (*s == "bold") weight = 700;
        else if (!s->empty() && s->size() <= 4 && std::all_of(s->begin(), s->end(), [](unsigned char c) { return std::isdigit(c) != 0; })) weight = std::stoi(*s);
      } else {
        weight = FiniteNumber(v);
      }
      if (weight && *weight >= 1 && *weight <= 1000) {
        attrs.fontWeight = std::clamp(static_cast<int>(std::lround(*weight / 100.0)) * 100, 100, 900);
      }
    } else if (key == "fontStyle") {
      if (const std::string* s = String(v)) {
        if (*s == "italic" || *s == "oblique") attrs.fontStyle = FontStyle::Italic;
        else if (*s == "normal") attrs.fontStyle = FontStyle::Normal;
      }
    } else if (key == "fontFamily") {
      if (const std::string* s = String(v); s && !s->empty()) attrs.fontFamily = *s;
    } else if (key == "lineHeight") {
      if (const auto n = NonNegativeLength(v); n && *n > 0) attrs.lineHeight = *n;
    } else if (key == "letterSpacing") {
      attrs.letterSpacing = Length(v);
    } else if (key == "textDecorationLine") {
      if (const std::string* s = String(v)) {
        attrs.underline = s->find("underline") != std::string::npos;
        attrs.lineThrough = s->find("line-through") != std::string::npos;
      }
    } else if (key == "textAlign") {
      if (const std::string* s = String(v)) {
        if (*s == "left") attrs.textAlign = TextAlign::Left;
        else if (*s == "center") attrs.textAlign = TextAlign::Center;
        else if (*s == "right") attrs.textAlign = TextAlign::Right;
        else if (*s == "justify") attrs.textAlign = TextAlign::Justify;
        else if (*s == "auto") attrs.textAlign = TextAlign::Auto;
      }
    }
  }
  return attrs;
}

ParagraphAttributes ParseParagraphAttributes(const Props& props) {
  ParagraphAttributes out;
  if (!props.is_object()) return out;
  if (const auto it = props.find("numberOfLines"); it != props.end()) {
    if (const auto n = FiniteNumber(*it); n && *n >= 0) out.numberOfLines = static_cast<int>(std::min(*n, 1e6));
  }
  if (const auto it = props.find("ellipsizeMode"); it != props.end()) {
    if (const std::string* s = String(*it)) {
      if (*s == "head") out.ellipsizeMode = EllipsizeMode::Head;
      else if (*s == "middle") out.ellipsizeMode = EllipsizeMode::Middle;
      else if (*s == "clip") out.ellipsizeMode = EllipsizeMode::Clip;
      else if (*s == "tail") out.ellipsizeMode = EllipsizeMode::Tail;
    }
  }
  if (const auto it = props.find("selectable"); it != props.end()) out.selectable = Bool(*it).value_or(false);
  return out;
}

namespace {

std::optional<ImageSource> ParseSource(const Props& value) {
  ImageSource source;
  if (const std::string* s = String(value)) {
    source.uri = *s;
  } else if (value.is_object()) {
    const auto uri = value.find("uri");
    if (uri == value.end() || !uri->is_string()) return std::nullopt;
    source.uri = uri->get<std::string>();
    auto number = [&](const char* key, float& out, bool positive) {
      const auto it = value.find(key);
      if (it == value.end()) return;
      if (const auto n = NonNegativeLength(*it); n && (!positive || *n > 0)) out = *n;
    };
    number("width", source.width, false);
    number("height", source.height, false);
    number("scale", source.scale, true);
  } else {
    return std::nullopt;
  }
  if (source.uri.empty()) return std::nullopt;
  return source;
}

}  // namespace

ImageProps ParseImageProps(const Props& props) {
  ImageProps out;
  if (!props.is_object()) return out;
  auto it = props.find("source");
  if (it == props.end() || it->is_null()) it = props.find("src");
  if (it != props.end()) {
    if (it->is_array()) {
      for (const Props& item : *it) {
        if (auto s = ParseSource(item)) out.sources.push_back(std::move(*s));
      }
    } else if (auto s = ParseSource(*it)) {
      out.sources.push_back(std::move(*s));
    }
  }
  if (const auto mode = props.find("resizeMode"); mode != props.end()) {
    if (const std::string* s = String(*mode)) {
      if (*s == "contain") out.resizeMode = ResizeMode::Contain;
      else if (*s == "stretch") out.resizeMode = ResizeMode::Stretch;
      else if (*s == "center") out.resizeMode = ResizeMode::Center;
      else if (*s == "repeat") out.resizeMode = ResizeMode::Repeat;
    }
  }
  if (const auto tint = props.find("tintColor"); tint != props.end()) out.tintColor = ParseColor(*tint);
  if (const auto blur = props.find("blurRadius"); blur != props.end()) {
    out.blurRadius = NonNegativeLength(*blur).value_or(0);
  }
  return out;
}

bool WantsHover(const Props& props) {
  if (!props.is_object()) return false;
  for (const char* key : {"onMouseEnter", "onMouseLeave", "onPointerEnter", "onPointerLeave", "onPointerMove"}) {
    const auto it = props.find(key);
    if (it != props.end() && it->is_boolean() && it->get<bool>()) return true;
  }
  return false;
}

}  // namespace VirelantDesktop::render
