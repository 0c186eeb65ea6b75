// Scroll views (React Native's RCTScrollView and the horizontal one of
// Android's configuration): the props they scroll by, the extent they
// scroll over and what their scroll events carry. No I/O, no toolkit.
//
// A scroll view's first mounted child is its content view; the content
// size is that child's laid-out size, the viewport the scroll view's own.
// The offset is the content point drawn at the viewport's top-left corner.
#pragma once

#include <optional>
#include <string_view>

#include "render/render_types.h"

namespace VirelantDesktop::render {

enum class ScrollAxes {
  Both,        // each axis where the content is larger (iOS' configuration)
  Vertical,    // "horizontal": false in Android's configuration
  Horizontal,  // "horizontal": true, or the horizontal component
};

struct ScrollProps {
  ScrollAxes axes = ScrollAxes::Both;
  bool enabled = true;              // "scrollEnabled": user input scrolls it
  double eventThrottleMs = 0;       // "scrollEventThrottle"
  bool showsVerticalIndicator = true;
  bool showsHorizontalIndicator = true;
  std::optional<Point> initialOffset;  // "contentOffset"
  // "maintainVisibleContentPosition": the first child at or after this index
  // that is visible keeps its place on screen when the content changes.
  std::optional<int> keepVisibleFromIndex;
  // ...and when the content was scrolled to within this distance of its
  // start, it is scrolled back to the start after the change.
  std::optional<float> autoscrollToStartThreshold;
  bool operator==(const ScrollProps&) const = default;
};

bool IsScrollViewComponent(std::string_view componentName) noexcept;
// The props of a scroll view named `componentName`.
ScrollProps ParseScrollProps(std::string_view componentName, const Props& props);

// The largest offset on each axis (never negative); 0 on an axis the props
// do not scroll.
Point MaxScrollOffset(const ScrollProps& props, Size viewport, Size content) noexcept;
// `offset` within [0, max] on each axis; a non-finite coordinate becomes 0.
Point ClampScrollOffset(Point offset, Point max) noexcept;

// Whether the view can move by `delta` on at least one axis from `offset`.
bool CanScrollBy(Point offset, Point max, Point delta) noexcept;

// How far one wheel notch moves a viewport `length` pixels long on that
// axis: length^(2/3), as the toolkit's own scrolled windows do.
float WheelStep(float length) noexcept;

// The scroll delta of a wheel or touchpad event in the view's axes: one
// notch or one unit of smooth delta is one WheelStep of the viewport. A
// vertical wheel over a view that scrolls only sideways moves it sideways.
Point WheelScrollDelta(Point wheel, Size viewport, Point max) noexcept;

// The keys that scroll a view and where each takes it: a page is nine
// tenths of the viewport, a line kKeyScrollLine pixels; Home and End go to
// the start and the end of the axis the view scrolls on (vertical first).
enum class ScrollKey { PageUp, PageDown, Home, End, Up, Down, Left, Right };
inline constexpr float kKeyScrollLine = 40;
Point KeyScrollOffset(ScrollKey key, Point offset, Point max, Size viewport) noexcept;

// The payload of "topScroll" and the momentum and drag events.
Props ScrollEventPayload(Point offset, Size viewport, Size content, double timestampMs);

// The scroll indicators drawn over the viewport (the view's coordinates):
// a thumb along the right edge when the content is taller than the
// viewport and along the bottom edge when it is wider; as long as the
// viewport's share of the content, at least kMinIndicatorLength.
inline constexpr float kIndicatorThickness = 5;
inline constexpr float kIndicatorMargin = 2;
inline constexpr float kMinIndicatorLength = 24;
std::optional<Rect> VerticalIndicator(Point offset, Point max, Size viewport, Size content) noexcept;
std::optional<Rect> HorizontalIndicator(Point offset, Point max, Size viewport, Size content) noexcept;

// A position on the way from `from` to `to` after `elapsedMs` of an
// animated scroll lasting `durationMs` (ease-out cubic); `to` once done.
Point AnimatedScrollOffset(Point from, Point to, double elapsedMs, double durationMs) noexcept;

// When the next scroll event may go out: events are at most one per
// `throttleMs` (and at least a frame apart); the last position is always
// sent, late if need be.
class ScrollEventThrottle {
 public:
  // True when an event may go now (it is then counted as sent).
  bool TrySend(double nowMs, double throttleMs) noexcept;
  // The time the held-back event is due (after a TrySend that said no).
  double DueAtMs(double throttleMs) const noexcept;

 private:
  std::optional<double> lastMs_;
};

}  // namespace VirelantDesktop::render
