// Geometry, colours and the layout result shared by the JS-thread shadow
// tree and the UI-thread mounted tree. Logical pixels (React Native's
// density-independent points) unless a name says otherwise.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

namespace VirelantDesktop::render {

// React's node tag; the root of a surface has the surface's root tag.
using Tag = int32_t;

// Props as the renderer sends them: one flat object (style flattened into
// it), later diffs hold changed keys only and null for removed keys.
using Props = nlohmann::json;

struct Point {
  float x = 0;
  float y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  float width = 0;
  float height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  bool operator==(const Rect&) const = default;
  bool Contains(Point p) const { return p.x >= x && p.y >= y && p.x < x + width && p.y < y + height; }
};

struct EdgeInsets {
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
  bool operator==(const EdgeInsets&) const = default;
};

// Premultiplied? No: straight alpha, 8 bits per channel.
struct Color {
  uint8_t a = 0, r = 0, g = 0, b = 0;
  bool operator==(const Color&) const = default;
  bool IsTransparent() const { return a == 0; }
};

enum class LayoutDirection { Ltr, Rtl };

// Where Yoga put a node: the frame relative to its parent, and the insets
// its content sits in.
struct LayoutMetrics {
  Rect frame;
  EdgeInsets borderWidth;
  EdgeInsets contentInsets;  // border + padding
  LayoutDirection direction = LayoutDirection::Ltr;
  bool operator==(const LayoutMetrics&) const = default;
};

// The viewport a surface is laid out in.
struct LayoutConstraints {
  Size size;               // logical pixels
  float pointScale = 1;    // device pixels per logical pixel
  float fontScale = 1;
  LayoutDirection direction = LayoutDirection::Ltr;
  bool operator==(const LayoutConstraints&) const = default;
};

}  // namespace VirelantDesktop::render
