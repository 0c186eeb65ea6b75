// What a mounted view draws: the props the renderer sent, parsed once on the
// JS thread into typed values. Immutable once built; shared between the
// shadow node that made it and the mounted view that draws it.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/render_types.h"
#include "render/scroll_view.h"

namespace VirelantDesktop::render {

// 2-D affine part of a transform, applied about the view's centre:
// x' = a*x + c*y + tx, y' = b*x + d*y + ty.
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  bool IsIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1 && tx == 0 && ty == 0; }
  bool operator==(const Affine&) const = default;
};

// Corner radii: top-left, top-right, bottom-right, bottom-left.
struct CornerRadii {
  float topLeft = 0, topRight = 0, bottomRight = 0, bottomLeft = 0;
  bool IsZero() const { return topLeft == 0 && topRight == 0 && bottomRight == 0 && bottomLeft == 0; }
  bool operator==(const CornerRadii&) const = default;
};

struct BorderColors {
  Color left, top, right, bottom;
  bool operator==(const BorderColors&) const = default;
};

enum class PointerEvents { Auto, None, BoxNone, BoxOnly };
enum class Cursor { Auto, Pointer };

// The visual props every view has.
struct ViewStyle {
  Color backgroundColor;              // transparent when unset
  float opacity = 1;
  EdgeInsets borderWidth;             // logical pixels (as laid out)
  BorderColors borderColor;           // black when a width is set and no colour
  CornerRadii borderRadius;
  bool overflowHidden = false;
  Affine transform;                   // about the centre of the frame
  PointerEvents pointerEvents = PointerEvents::Auto;
  Cursor cursor = Cursor::Auto;
  bool operator==(const ViewStyle&) const = default;
};

enum class FontStyle { Normal, Italic };
enum class TextAlign { Auto, Left, Center, Right, Justify };
enum class EllipsizeMode { Tail, Head, Middle, Clip };

// Attributes of a run of text; unset values inherit from the enclosing span.
struct TextAttributes {
  std::optional<Color> color;
  std::optional<Color> backgroundColor;
  std::optional<float> fontSize;        // logical pixels; default 14
  std::optional<int> fontWeight;        // 100..900; default 400
  std::optional<FontStyle> fontStyle;
  std::optional<std::string> fontFamily;
  std::optional<float> lineHeight;      // logical pixels
  std::optional<float> letterSpacing;
  std::optional<bool> underline;
  std::optional<bool> lineThrough;
  std::optional<TextAlign> textAlign;   // paragraph-level, from the outermost Text
  // Fills the unset values of this from `outer`.
  void InheritFrom(const TextAttributes& outer);
  bool operator==(const TextAttributes&) const = default;
};

struct TextFragment {
  std::string text;           // UTF-8
  TextAttributes attributes;  // fully inherited (only defaults left unset)
  bool operator==(const TextFragment&) const = default;
};

struct AttributedText {
  std::vector<TextFragment> fragments;
  bool operator==(const AttributedText&) const = default;
  bool Empty() const;
};

struct ParagraphAttributes {
  int numberOfLines = 0;  // 0: no limit
  EllipsizeMode ellipsizeMode = EllipsizeMode::Tail;
  bool selectable = false;
  bool operator==(const ParagraphAttributes&) const = default;
};

enum class ResizeMode { Cover, Contain, Stretch, Center, Repeat };

struct ImageSource {
  std::string uri;  // "file://...", "data:...", an absolute path, or other (refused)
  float width = 0;  // as given by the source, 0 when unknown
  float height = 0;
  float scale = 1;
  bool operator==(const ImageSource&) const = default;
};

struct ImageProps {
  std::vector<ImageSource> sources;
  ResizeMode resizeMode = ResizeMode::Cover;
  std::optional<Color> tintColor;
  float blurRadius = 0;
  bool operator==(const ImageProps&) const = default;
};

// Which drawing a component gets.
enum class ViewKind {
  View,         // RCTView and the containers that draw like it
  Paragraph,    // RCTText / RCTParagraph: laid-out text
  Image,        // RCTImageView
  Native,       // a component registered through the view component builder
  Unknown,      // a name nobody registered: drawn as a placeholder
};

struct ViewModel {
  std::string componentName;
  ViewKind kind = ViewKind::View;
  Props props;               // the full merged props (for native components)
  ViewStyle style;
  // Paragraph only.
  std::shared_ptr<const AttributedText> text;
  ParagraphAttributes paragraph;
  // Image only.
  ImageProps image;
  // Events the JS side listens to (from the props' event flags), e.g. hover.
  bool wantsHover = false;
  bool wantsLayout = false;  // onLayout
  // Scroll views only.
  bool isScrollView = false;
  ScrollProps scroll;
  std::string testID;
  std::string nativeID;
};

using ViewModelPtr = std::shared_ptr<const ViewModel>;

}  // namespace VirelantDesktop::render
