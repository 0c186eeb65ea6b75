#include "render/scroll_view.h"

#include <algorithm>
#include <cmath>

#include "render/view_props.h"

namespace VirelantDesktop::render {
namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

bool BoolProp(const Props& props, const char* key, bool fallback) {
  const auto it = props.find(key);
  return it != props.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

float Finite(float v) noexcept { return std::isfinite(v) ? v : 0.0f; }

}  // namespace

bool IsScrollViewComponent(std::string_view componentName) noexcept {
  return componentName == "RCTScrollView" || componentName == "AndroidHorizontalScrollView";
}

ScrollProps ParseScrollProps(std::string_view componentName, const Props& props) {
  ScrollProps scroll;
  if (componentName == "AndroidHorizontalScrollView") scroll.axes = ScrollAxes::Horizontal;
  if (!props.is_object()) return scroll;
  if (const auto it = props.find("horizontal"); it != props.end() && it->is_boolean()) {
    scroll.axes = it->get<bool>() ? ScrollAxes::Horizontal : ScrollAxes::Vertical;
  }
  scroll.enabled = BoolProp(props, "scrollEnabled", true);
  if (const auto it = props.find("scrollEventThrottle"); it != props.end()) {
    if (const auto ms = FiniteNumber(*it); ms && *ms > 0) scroll.eventThrottleMs = *ms;
  }
  scroll.showsVerticalIndicator = BoolProp(props, "showsVerticalScrollIndicator", true);
  scroll.showsHorizontalIndicator = BoolProp(props, "showsHorizontalScrollIndicator", true);
  if (const auto it = props.find("contentOffset"); it != props.end() && it->is_object()) {
    const auto x = it->find("x");
    const auto y = it->find("y");
    const auto fx = x != it->end() ? FiniteNumber(*x) : std::nullopt;
    const auto fy = y != it->end() ? FiniteNumber(*y) : std::nullopt;
    if (fx || fy) scroll.initialOffset = Point{static_cast<float>(fx.value_or(0)), static_cast<float>(fy.value_or(0))};
  }
  if (const auto it = props.find("maintainVisibleContentPosition"); it != props.end() && it->is_object()) {
    if (const auto min = it->find("minIndexForVisible"); min != it->end()) {
      if (const auto index = FiniteNumber(*min); index && *index >= 0 && *index < 1e9) {
        scroll.keepVisibleFromIndex = static_cast<int>(*index);
      }
    }
    if (const auto threshold = it->find("autoscrollToTopThreshold"); threshold != it->end()) {
      if (const auto value = FiniteNumber(*threshold); value && *value >= 0) {
        scroll.autoscrollToStartThreshold = static_cast<float>(*value);
      }
    }
  }
  return scroll;
}

Point MaxScrollOffset(const ScrollProps& props, Size viewport, Size content) noexcept {
  Point max{std::max(0.0f, Finite(content.width) - Finite(viewport.width)),
            std::max(0.0f, Finite(content.height) - Finite(viewport.height))};
  if (props.axes == ScrollAxes::Vertical) max.x = 0;
  if (props.axes == ScrollAxes::Horizontal) max.y = 0;
  return max;
}

Point ClampScrollOffset(Point offset, Point max) noexcept {
  return {std::clamp(Finite(offset.x), 0.0f, std::max(0.0f, Finite(max.x))),
          std::clamp(Finite(offset.y), 0.0f, std::max(0.0f, Finite(max.y)))};
}

bool CanScrollBy(Point offset, Point max, Point delta) noexcept {
  const Point moved = ClampScrollOffset({offset.x + Finite(delta.x), offset.y + Finite(delta.y)}, max);
  return moved != ClampScrollOffset(offset, max);
}

float WheelStep(float length) noexcept {
  return length > 0 && std::isfinite(length) ? std::pow(length, 2.0f / 3.0f) : 0.0f;
}

Point WheelScrollDelta(Point wheel, Size viewport, Point max) noexcept {
  wheel = {Finite(wheel.x), Finite(wheel.y)};
  if (wheel.x == 0 && max.y <= 0 && max.x > 0) std::swap(wheel.x, wheel.y);
  return {wheel.x * WheelStep(viewport.width), wheel.y * WheelStep(viewport.height)};
}

Point KeyScrollOffset(ScrollKey key, Point offset, Point max, Size viewport) noexcept {
  const bool sideways = max.y <= 0 && max.x > 0;
  const float page = 0.9f * (sideways ? viewport.width : viewport.height);
  Point to = offset;
  float& along = sideways ? to.x : to.y;
  switch (key) {
    case ScrollKey::PageUp: along -= page; break;
    case ScrollKey::PageDown: along += page; break;
    case ScrollKey::Home: along = 0; break;
    case ScrollKey::End: along = sideways ? max.x : max.y; break;
    case ScrollKey::Up: to.y -= kKeyScrollLine; break;
    case ScrollKey::Down: to.y += kKeyScrollLine; break;
    case ScrollKey::Left: to.x -= kKeyScrollLine; break;
    case ScrollKey::Right: to.x += kKeyScrollLine; break;
  }
  return ClampScrollOffset(to, max);
}

Props ScrollEventPayload(Point offset, Size viewport, Size content, double timestampMs) {
  return Props{{"contentOffset", {{"x", offset.x}, {"y", offset.y}}},
               {"contentInset", {{"top", 0}, {"left", 0}, {"bottom", 0}, {"right", 0}}},
               {"contentSize", {{"width", content.width}, {"height", content.height}}},
               {"layoutMeasurement", {{"width", viewport.width}, {"height", viewport.height}}},
               {"zoomScale", 1},
               {"responderIgnoreScroll", true},
               {"timestamp", timestampMs}};
}

namespace {

// The thumb's start and length along an axis of `length` pixels.
std::optional<std::pair<float, float>> Thumb(float offset, float max, float length, float content) {
  const float track = length - 2 * kIndicatorMargin;
  if (!(max > 0) || !(content > 0) || !(track > kMinIndicatorLength)) return std::nullopt;
  const float thumb = std::clamp(track * length / content, kMinIndicatorLength, track);
  const float start = kIndicatorMargin + (track - thumb) * std::clamp(offset / max, 0.0f, 1.0f);
  return std::pair{start, thumb};
}

}  // namespace

std::optional<Rect> VerticalIndicator(Point offset, Point max, Size viewport, Size content) noexcept {
  const auto thumb = Thumb(offset.y, max.y, viewport.height, content.height);
  if (!thumb || viewport.width < kIndicatorThickness + 2 * kIndicatorMargin) return std::nullopt;
  return Rect{viewport.width - kIndicatorMargin - kIndicatorThickness, thumb->first, kIndicatorThickness,
              thumb->second};
}

std::optional<Rect> HorizontalIndicator(Point offset, Point max, Size viewport, Size content) noexcept {
  const auto thumb = Thumb(offset.x, max.x, viewport.width, content.width);
  if (!thumb || viewport.height < kIndicatorThickness + 2 * kIndicatorMargin) return std::nullopt;
  return Rect{thumb->first, viewport.height - kIndicatorMargin - kIndicatorThickness, thumb->second,
              kIndicatorThickness};
}

Point AnimatedScrollOffset(Point from, Point to, double elapsedMs, double durationMs) noexcept {
  if (!(durationMs > 0) || !(elapsedMs < durationMs)) return to;
  const double t = std::max(0.0, elapsedMs) / durationMs;
  const double eased = 1.0 - std::pow(1.0 - t, 3.0);
  return {static_cast<float>(from.x + (to.x - from.x) * eased), static_cast<float>(from.y + (to.y - from.y) * eased)};
}

bool ScrollEventThrottle::TrySend(double nowMs, double throttleMs) noexcept {
  if (lastMs_ && nowMs < *lastMs_ + std::max(throttleMs, kFrameMs) && nowMs >= *lastMs_) return false;
  lastMs_ = nowMs;
  return true;
}

double ScrollEventThrottle::DueAtMs(double throttleMs) const noexcept {
  return lastMs_.value_or(0) + std::max(throttleMs, kFrameMs);
}

}  // namespace VirelantDesktop::render
