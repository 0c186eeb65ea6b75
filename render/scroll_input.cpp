#include "render/scroll_input.h"

#include <algorithm>
#include <cmath>

#include "render/affine_math.h"

namespace VirelantDesktop::render {
namespace {

// Touchpad motions further apart than this do not make one flick.
constexpr double kFlickGapMs = 80;
constexpr double kMinFlickPxPerMs = 0.1;

float Length(Point v) { return std::hypot(v.x, v.y); }

// `delta` on the screen's axes in the view's own (a flipped list flips it).
Point ToViewAxes(const MountedTree& tree, Tag tag, Point delta) {
  const auto m = tree.AbsoluteTransform(tag);
  const auto inverse = m ? Invert(*m) : std::nullopt;
  if (!inverse) return delta;
  return {static_cast<float>(inverse->a * delta.x + inverse->c * delta.y),
          static_cast<float>(inverse->b * delta.x + inverse->d * delta.y)};
}

std::optional<bool> BoolArg(const Props& args, size_t index) {
  if (!args.is_array() || index >= args.size() || !args[index].is_boolean()) return std::nullopt;
  return args[index].get<bool>();
}

std::optional<float> NumberArg(const Props& args, size_t index) {
  if (!args.is_array() || index >= args.size() || !args[index].is_number()) return std::nullopt;
  const double value = args[index].get<double>();
  if (!std::isfinite(value)) return std::nullopt;
  return static_cast<float>(value);
}

ViewEvent ScrollEvent(const char* type, Tag tag, const ScrollMetrics& metrics, double nowMs) {
  Props payload = ScrollEventPayload(metrics.offset, metrics.viewport, metrics.content, nowMs);
  payload["target"] = tag;
  return {type, tag, std::move(payload)};
}

}  // namespace

bool ScrollController::Wheel(MountedTree& tree, Tag rootTag, Point p, Point delta, bool smooth, double nowMs) {
  for (Tag tag : tree.ScrollViewsAt(rootTag, p)) {
    const MountedView* view = tree.Find(tag);
    const auto metrics = tree.Scroll(tag);
    if (view == nullptr || !metrics || !view->model->scroll.enabled) continue;
    const Point pixels = WheelScrollDelta(ToViewAxes(tree, tag, delta), metrics->viewport, metrics->max);
    if (!CanScrollBy(metrics->offset, metrics->max, pixels)) continue;
    if (animations_.count(tag) != 0) Stop(tag, &pending_);
    tree.ScrollTo(tag, {metrics->offset.x + pixels.x, metrics->offset.y + pixels.y});
    if (smooth) {
      Flick& flick = flicks_[tag];
      const double gap = nowMs - flick.lastMs;
      if (flick.lastMs > 0 && gap > 0 && gap < kFlickGapMs) {
        const Point now{static_cast<float>(pixels.x / gap), static_cast<float>(pixels.y / gap)};
        flick.velocity = {0.6f * now.x + 0.4f * flick.velocity.x, 0.6f * now.y + 0.4f * flick.velocity.y};
      } else {
        flick.velocity = {};
      }
      flick.lastMs = nowMs;
    } else {
      flicks_.erase(tag);
    }
    return true;
  }
  return false;
}

void ScrollController::TouchpadStop(MountedTree& tree, double nowMs) {
  for (const auto& [tag, flick] : flicks_) {
    const auto metrics = tree.Scroll(tag);
    if (!metrics || nowMs - flick.lastMs > kFlickGapMs || Length(flick.velocity) < kMinFlickPxPerMs) continue;
    Animation animation;
    animation.from = metrics->offset;
    animation.velocity = flick.velocity;
    animation.startMs = nowMs;
    animation.momentum = true;
    animations_[tag] = animation;
    pending_.push_back(ScrollEvent("topMomentumScrollBegin", tag, *metrics, nowMs));
  }
  flicks_.clear();
}

bool ScrollController::PressScrollbar(MountedTree& tree, Tag rootTag, Point p, double nowMs) {
  for (Tag tag : tree.ScrollViewsAt(rootTag, p)) {
    const MountedView* view = tree.Find(tag);
    const auto metrics = tree.Scroll(tag);
    const auto local = tree.ToLocal(tag, p);
    if (view == nullptr || !metrics || !local || !view->model->scroll.enabled) continue;
    const ScrollProps& props = view->model->scroll;
    const Size& size = metrics->viewport;
    for (const bool vertical : {true, false}) {
      const auto thumb = vertical ? (props.showsVerticalIndicator
                                         ? VerticalIndicator(metrics->offset, metrics->max, size, metrics->content)
                                         : std::nullopt)
                                  : (props.showsHorizontalIndicator
                                         ? HorizontalIndicator(metrics->offset, metrics->max, size, metrics->content)
                                         : std::nullopt);
      if (!thumb) continue;
      const bool inStrip = vertical ? local->x >= size.width - kScrollbarHitWidth && local->x < size.width
                                    : local->y >= size.height - kScrollbarHitWidth && local->y < size.height;
      if (!inStrip) continue;
      const float along = vertical ? local->y : local->x;
      const float thumbStart = vertical ? thumb->y : thumb->x;
      const float thumbLength = vertical ? thumb->height : thumb->width;
      const float track = (vertical ? size.height : size.width) - 2 * kIndicatorMargin;
      if (along >= thumbStart && along < thumbStart + thumbLength) {
        if (animations_.count(tag) != 0) Stop(tag, &pending_);
        const float room = track - thumbLength;
        const float max = vertical ? metrics->max.y : metrics->max.x;
        drag_ = ThumbDrag{tag, vertical, along, vertical ? metrics->offset.y : metrics->offset.x,
                          room > 0 ? max / room : 0};
      } else {
        const ScrollKey key = along < thumbStart ? ScrollKey::PageUp : ScrollKey::PageDown;
        Point to = KeyScrollOffset(key, metrics->offset, vertical ? Point{0, metrics->max.y} : Point{metrics->max.x, 0},
                                   size);
        if (vertical) to.x = metrics->offset.x; else to.y = metrics->offset.y;
        AnimateTo(tree, tag, to, nowMs);
      }
      return true;
    }
  }
  return false;
}

bool ScrollController::DragScrollbar(MountedTree& tree, Point p) {
  if (!drag_) return false;
  const auto metrics = tree.Scroll(drag_->tag);
  const auto local = tree.ToLocal(drag_->tag, p);
  if (!metrics || !local) {
    drag_.reset();
    return false;
  }
  // In the view's own coordinates: a flipped list's thumb moves with the pointer too.
  const float moved = ((drag_->vertical ? local->y : local->x) - drag_->startPointer) * drag_->contentPerPixel;
  Point to = metrics->offset;
  (drag_->vertical ? to.y : to.x) = drag_->startOffset + moved;
  tree.ScrollTo(drag_->tag, to);
  return true;
}

bool ScrollController::ReleaseScrollbar() noexcept {
  const bool ran = drag_.has_value();
  drag_.reset();
  return ran;
}

bool ScrollController::Command(MountedTree& tree, Tag tag, const std::string& command, const Props& args,
                               double nowMs) {
  const auto metrics = tree.Scroll(tag);
  if (!metrics) return false;
  Point target;
  bool animated = false;
  if (command == "scrollTo") {
    target = {NumberArg(args, 0).value_or(metrics->offset.x), NumberArg(args, 1).value_or(metrics->offset.y)};
    animated = BoolArg(args, 2).value_or(false);
  } else if (command == "scrollToEnd") {
    const MountedView* view = tree.Find(tag);
    const bool sideways = view->model->scroll.axes == ScrollAxes::Horizontal ||
                          (metrics->max.y <= 0 && metrics->max.x > 0);
    target = sideways ? Point{metrics->max.x, metrics->offset.y} : Point{metrics->offset.x, metrics->max.y};
    animated = BoolArg(args, 0).value_or(false);
  } else {
    return false;
  }
  if (!animated) {
    if (animations_.count(tag) != 0) Stop(tag, &pending_);
    tree.ScrollTo(tag, target);
    return true;
  }
  AnimateTo(tree, tag, target, nowMs);
  return true;
}

void ScrollController::AnimateTo(MountedTree& tree, Tag tag, Point target, double nowMs) {
  const auto metrics = tree.Scroll(tag);
  if (!metrics) return;
  if (animations_.count(tag) != 0) Stop(tag, &pending_);
  target = ClampScrollOffset(target, metrics->max);
  if (target == metrics->offset) return;
  Animation animation;
  animation.from = metrics->offset;
  animation.to = target;
  animation.startMs = nowMs;
  animations_[tag] = animation;
}

bool ScrollController::Key(MountedTree& tree, Tag rootTag, std::optional<Point> pointer, ScrollKey key,
                           double nowMs) {
  std::vector<Tag> candidates = pointer ? tree.ScrollViewsAt(rootTag, *pointer) : std::vector<Tag>{};
  if (candidates.empty()) {
    // The largest scroll view of the surface goes first.
    std::vector<std::pair<float, Tag>> bySize;
    for (Tag tag : tree.ScrollViewsIn(rootTag)) {
      if (const auto frame = tree.AbsoluteFrame(tag)) bySize.emplace_back(frame->width * frame->height, tag);
    }
    std::stable_sort(bySize.begin(), bySize.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [area, tag] : bySize) candidates.push_back(tag);
  }
  for (Tag tag : candidates) {
    const MountedView* view = tree.Find(tag);
    const auto metrics = tree.Scroll(tag);
    if (view == nullptr || !metrics || !view->model->scroll.enabled) continue;
    // An animation under way continues from where it is going.
    const auto running = animations_.find(tag);
    const Point from = running != animations_.end() && !running->second.momentum ? running->second.to : metrics->offset;
    const Point to = KeyScrollOffset(key, from, metrics->max, metrics->viewport);
    if (to == from) continue;
    AnimateTo(tree, tag, to, nowMs);
    return true;
  }
  return false;
}

void ScrollController::Stop(Tag tag, std::vector<ViewEvent>* events) {
  auto it = animations_.find(tag);
  if (it == animations_.end()) return;
  const bool momentum = it->second.momentum;
  animations_.erase(it);
  if (momentum && events != nullptr) {
    ViewEvent end;
    end.type = "topMomentumScrollEnd";
    end.target = tag;
    events->push_back(std::move(end));  // its payload is filled in when sent
  }
}

bool ScrollController::Tick(MountedTree& tree, double nowMs) {
  std::vector<Tag> done;
  for (auto& [tag, animation] : animations_) {
    const auto metrics = tree.Scroll(tag);
    if (!metrics) {
      done.push_back(tag);
      continue;
    }
    const double elapsed = std::max(0.0, nowMs - animation.startMs);
    if (animation.momentum) {
      const double decay = std::exp(-elapsed / kMomentumTimeConstantMs);
      const double travelled = kMomentumTimeConstantMs * (1 - decay);
      const Point wanted{static_cast<float>(animation.from.x + animation.velocity.x * travelled),
                         static_cast<float>(animation.from.y + animation.velocity.y * travelled)};
      tree.ScrollTo(tag, wanted);
      const bool atEdge = ClampScrollOffset(wanted, metrics->max) != wanted;
      if (atEdge || Length(animation.velocity) * decay < kMomentumStopPxPerMs) done.push_back(tag);
    } else {
      tree.ScrollTo(tag, AnimatedScrollOffset(animation.from, animation.to, elapsed, kScrollAnimationMs));
      if (elapsed >= kScrollAnimationMs) done.push_back(tag);
    }
  }
  for (Tag tag : done) Stop(tag, &pending_);
  return !animations_.empty();
}

std::vector<ViewEvent> ScrollController::TakeEvents(MountedTree& tree, double nowMs) {
  for (Tag tag : tree.TakeScrolled()) {
    if (std::none_of(held_.begin(), held_.end(), [tag](const Held& h) { return h.tag == tag; })) {
      held_.push_back({tag, nowMs});
    }
  }
  std::vector<ViewEvent> events;
  std::vector<ViewEvent> ends;
  for (auto& event : pending_) {
    const auto metrics = tree.Scroll(event.target);
    if (!metrics) continue;
    if (event.type == "topMomentumScrollEnd") {
      ends.push_back(ScrollEvent("topMomentumScrollEnd", event.target, *metrics, nowMs));
    } else {
      events.push_back(std::move(event));
    }
  }
  pending_.clear();
  std::vector<Held> still;
  for (const Held& held : held_) {
    const MountedView* view = tree.Find(held.tag);
    const auto metrics = tree.Scroll(held.tag);
    if (view == nullptr || !metrics) {
      throttles_.erase(held.tag);
      continue;
    }
    const double throttleMs = view->model->scroll.eventThrottleMs;
    ScrollEventThrottle& throttle = throttles_[held.tag];
    if (throttle.TrySend(nowMs, throttleMs)) {
      events.push_back(ScrollEvent("topScroll", held.tag, *metrics, nowMs));
    } else {
      still.push_back({held.tag, throttle.DueAtMs(throttleMs)});
    }
  }
  held_ = std::move(still);
  events.insert(events.end(), std::make_move_iterator(ends.begin()), std::make_move_iterator(ends.end()));
  return events;
}

double ScrollController::NextDueMs() const noexcept {
  double due = 0;
  for (const Held& held : held_) due = due == 0 ? held.dueMs : std::min(due, held.dueMs);
  return due;
}

}  // namespace VirelantDesktop::render
