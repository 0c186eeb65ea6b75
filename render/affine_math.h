// Small geometry helpers for the UI thread: composing and inverting the 2-D
// affine transforms views carry, and the rectangles they cover.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>

#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

// first applied after `second`: (first * second)(p) = first(second(p)).
inline Affine Multiply(const Affine& first, const Affine& second) {
  Affine r;
  r.a = first.a * second.a + first.c * second.b;
  r.b = first.b * second.a + first.d * second.b;
  r.c = first.a * second.c + first.c * second.d;
  r.d = first.b * second.c + first.d * second.d;
  r.tx = first.a * second.tx + first.c * second.ty + first.tx;
  r.ty = first.b * second.tx + first.d * second.ty + first.ty;
  return r;
}

inline Affine Translation(double dx, double dy) {
  Affine r;
  r.tx = dx;
  r.ty = dy;
  return r;
}

inline Point ApplyTo(const Affine& m, Point p) {
  return {static_cast<float>(m.a * p.x + m.c * p.y + m.tx), static_cast<float>(m.b * p.x + m.d * p.y + m.ty)};
}

// nullopt when the transform collapses the plane (a scale of 0) or holds a
// value that is not finite.
inline std::optional<Affine> Invert(const Affine& m) {
  const double det = m.a * m.d - m.b * m.c;
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return std::nullopt;
  Affine r;
  r.a = m.d / det;
  r.b = -m.b / det;
  r.c = -m.c / det;
  r.d = m.a / det;
  r.tx = -(r.a * m.tx + r.c * m.ty);
  r.ty = -(r.b * m.tx + r.d * m.ty);
  return r;
}

// From a view's own coordinates to its parent's: the frame's origin, and
// the style transform about the frame's centre.
inline Affine LocalToParent(const Rect& frame, const Affine& transform) {
  if (transform.IsIdentity()) return Translation(frame.x, frame.y);
  const double cx = frame.width / 2.0, cy = frame.height / 2.0;
  return Multiply(Translation(frame.x + cx, frame.y + cy), Multiply(transform, Translation(-cx, -cy)));
}

inline bool IsEmpty(const Rect& r) { return !(r.width > 0 && r.height > 0); }

// The axis-aligned box around `r` once mapped through `m`.
inline Rect BoundingBox(const Affine& m, const Rect& r) {
  const Point corners[4] = {ApplyTo(m, {r.x, r.y}), ApplyTo(m, {r.x + r.width, r.y}),
                            ApplyTo(m, {r.x, r.y + r.height}), ApplyTo(m, {r.x + r.width, r.y + r.height})};
  float minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
  for (const Point& c : corners) {
    minX = std::min(minX, c.x);
    maxX = std::max(maxX, c.x);
    minY = std::min(minY, c.y);
    maxY = std::max(maxY, c.y);
  }
  if (!std::isfinite(minX) || !std::isfinite(maxX) || !std::isfinite(minY) || !std::isfinite(maxY)) return {};
  return {minX, minY, maxX - minX, maxY - minY};
}

inline Rect Intersection(const Rect& a, const Rect& b) {
  const float x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const float x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

inline bool Intersects(const Rect& a, const Rect& b) { return !IsEmpty(Intersection(a, b)); }

// The smallest box holding both; an empty box adds nothing.
inline Rect Union(const Rect& a, const Rect& b) {
  if (IsEmpty(a)) return b;
  if (IsEmpty(b)) return a;
  const float x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  const float x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

inline Rect Inflate(const Rect& r, float by) { return {r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by}; }

// Radii scaled down together so adjacent corners never overlap (as CSS
// does), and negative or non-finite values taken as 0.
inline CornerRadii FitRadii(const CornerRadii& radii, Size size) {
  auto clean = [](float v) { return std::isfinite(v) && v > 0 ? v : 0.0f; };
  CornerRadii r{clean(radii.topLeft), clean(radii.topRight), clean(radii.bottomRight), clean(radii.bottomLeft)};
  float f = 1;
  auto limit = [&f](float sum, float side) {
    if (sum > 0 && sum > side) f = std::min(f, std::max(side, 0.0f) / sum);
  };
  limit(r.topLeft + r.topRight, size.width);
  limit(r.bottomLeft + r.bottomRight, size.width);
  limit(r.topLeft + r.bottomLeft, size.height);
  limit(r.topRight + r.bottomRight, size.height);
  if (f < 1) r = {r.topLeft * f, r.topRight * f, r.bottomRight * f, r.bottomLeft * f};
  return r;
}

// Whether `p` (in the box's coordinates) lies inside the box with rounded
// corners `radii` (already fitted).
inline bool InsideRoundedRect(Point p, Size size, const CornerRadii& radii) {
  if (!(p.x >= 0 && p.y >= 0 && p.x < size.width && p.y < size.height)) return false;
  auto outsideCorner = [&p](float cx, float cy, float r) {
    const float dx = p.x - cx, dy = p.y - cy;
    return dx * dx + dy * dy > r * r;
  };
  const float w = size.width, h = size.height;
  if (p.x < radii.topLeft && p.y < radii.topLeft && outsideCorner(radii.topLeft, radii.topLeft, radii.topLeft))
    return false;
  if (p.x > w - radii.topRight && p.y < radii.topRight &&
      outsideCorner(w - radii.topRight, radii.topRight, radii.topRight))
    return false;
  if (p.x > w - radii.bottomRight && p.y > h - radii.bottomRight &&
      outsideCorner(w - radii.bottomRight, h - radii.bottomRight, radii.bottomRight))
    return false;
  if (p.x < radii.bottomLeft && p.y > h - radii.bottomLeft &&
      outsideCorner(radii.bottomLeft, h - radii.bottomLeft, radii.bottomLeft))
    return false;
  return true;
}

}  // namespace VirelantDesktop::render
