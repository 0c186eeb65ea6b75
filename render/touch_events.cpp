#include "render/touch_events.h"

#include <algorithm>

namespace VirelantDesktop::render {

namespace {

constexpr int kPrimaryButton = 1;

}  // namespace

Props TouchTracker::TouchObject(const Touch& touch) const {
  return Props{{"identifier", touch.identifier},
               {"locationX", touch.location.x},
               {"locationY", touch.location.y},
               {"pageX", touch.page.x},
               {"pageY", touch.page.y},
               {"screenX", touch.page.x + screenOrigin_.x},
               {"screenY", touch.page.y + screenOrigin_.y},
               {"target", touch.target},
               {"timestamp", touch.timestampMs},
               {"force", 0}};
}

Props TouchTracker::Payload(const Touch& changed) const {
  Props payload = TouchObject(changed);
  Props touches = Props::array();
  for (const auto& [id, touch] : touches_) touches.push_back(TouchObject(touch));
  payload["touches"] = std::move(touches);
  payload["changedTouches"] = Props::array({TouchObject(changed)});
  return payload;
}

void TouchTracker::Update(const MountedTree& tree, Touch& touch, const PointerInput& input) const {
  touch.page = input.point;
  touch.timestampMs = input.timestampMs;
  if (std::optional<Point> local = tree.ToLocal(touch.target, input.point)) touch.location = *local;
}

std::vector<ViewEvent> TouchTracker::PointerDown(const MountedTree& tree, const PointerInput& input) {
  if (input.button != kPrimaryButton || touches_.count(input.pointerId)) return {};
  Point local;
  std::optional<Tag> target = tree.HitTest(rootTag_, input.point, &local);
  if (!target) return {};
  // The smallest identifier not in use: the responder keeps a table indexed by it.
  int identifier = 0;
  for (bool taken = true; taken; ) {
    taken = std::any_of(touches_.begin(), touches_.end(),
                        [identifier](const auto& entry) { return entry.second.identifier == identifier; });
    if (taken) ++identifier;
  }
  Touch touch{identifier, *target, input.point, local, input.timestampMs};
  touches_[input.pointerId] = touch;
  return {ViewEvent{"topTouchStart", touch.target, Payload(touch)}};
}

std::vector<ViewEvent> TouchTracker::PointerMove(const MountedTree& tree, const PointerInput& input) {
  auto it = touches_.find(input.pointerId);
  if (it == touches_.end()) return {};
  Update(tree, it->second, input);
  return {ViewEvent{"topTouchMove", it->second.target, Payload(it->second)}};
}

std::vector<ViewEvent> TouchTracker::Finish(const MountedTree& tree, const PointerInput& input, const char* type) {
  auto it = touches_.find(input.pointerId);
  if (it == touches_.end()) return {};
  Touch touch = it->second;
  Update(tree, touch, input);
  touches_.erase(it);  // an ended touch is in changedTouches only
  return {ViewEvent{type, touch.target, Payload(touch)}};
}

std::vector<ViewEvent> TouchTracker::PointerUp(const MountedTree& tree, const PointerInput& input) {
  if (input.button != kPrimaryButton) return {};
  return Finish(tree, input, "topTouchEnd");
}

std::vector<ViewEvent> TouchTracker::PointerCancel(const MountedTree& tree, const PointerInput& input) {
  return Finish(tree, input, "topTouchCancel");
}

std::vector<ViewEvent> TouchTracker::CancelAll(const MountedTree& tree, double timestampMs) {
  std::vector<ViewEvent> events;
  while (!touches_.empty()) {
    const Touch& touch = touches_.begin()->second;
    PointerInput input{touches_.begin()->first, touch.page, timestampMs, kPrimaryButton};
    std::vector<ViewEvent> one = Finish(tree, input, "topTouchCancel");
    events.insert(events.end(), one.begin(), one.end());
  }
  return events;
}

Props HoverTracker::Payload(const MountedTree& tree, Tag target, Point point, double timestampMs) const {
  Point local = tree.ToLocal(target, point).value_or(point);
  return Props{{"pageX", point.x},       {"pageY", point.y},  {"locationX", local.x},
               {"locationY", local.y},   {"target", target},  {"timestamp", timestampMs},
               {"pointerType", "mouse"}, {"pointerId", 1}};
}

HoverResult HoverTracker::Move(const MountedTree& tree, Point point, double timestampMs) {
  HoverResult result;
  std::vector<Tag> path;
  std::optional<Tag> hit = tree.HitTest(rootTag_, point);
  if (hit) path = tree.PathTo(*hit);

  std::vector<Tag> listening;
  for (Tag tag : path) {
    const MountedView* view = tree.Find(tag);
    if (view->model->wantsHover) listening.push_back(tag);
    if (view->model->style.cursor == Cursor::Pointer) result.cursor = Cursor::Pointer;
  }

  // Leave innermost first, for views that are gone from the path.
  for (auto it = hovered_.rbegin(); it != hovered_.rend(); ++it) {
    if (std::find(listening.begin(), listening.end(), *it) != listening.end()) continue;
    result.events.push_back({"topPointerLeave", *it, Payload(tree, *it, point, timestampMs)});
  }
  for (Tag tag : listening) {
    if (std::find(hovered_.begin(), hovered_.end(), tag) != hovered_.end()) continue;
    result.events.push_back({"topPointerEnter", tag, Payload(tree, tag, point, timestampMs)});
  }
  if (hit && !listening.empty()) {
    result.events.push_back({"topPointerMove", *hit, Payload(tree, *hit, point, timestampMs)});
  }
  hovered_ = std::move(listening);
  return result;
}

HoverResult HoverTracker::Leave(const MountedTree& tree, Point point, double timestampMs) {
  HoverResult result;
  for (auto it = hovered_.rbegin(); it != hovered_.rend(); ++it) {
    result.events.push_back({"topPointerLeave", *it, Payload(tree, *it, point, timestampMs)});
  }
  hovered_.clear();
  return result;
}

}  // namespace VirelantDesktop::render
