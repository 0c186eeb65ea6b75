// Pointer input to the events React Native's touch and responder code reads:
// topTouchStart/Move/End/Cancel with the active touches, and the hover
// events (topPointerEnter/Leave/Move) for views that listen to them. Pure:
// the UI thread feeds it pointer state and dispatches what comes back.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "render/mounted_tree.h"
#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

struct ViewEvent {
  std::string type;  // e.g. "topTouchStart"
  Tag target = 0;
  Props payload;  // the nativeEvent object
};

struct PointerInput {
  int pointerId = 0;    // the mouse is 0; touch screens number their fingers
  Point point;          // absolute (surface) logical pixels
  double timestampMs = 0;
  int button = 1;       // 1 primary, 2 middle, 3 secondary
};

class TouchTracker {
 public:
  explicit TouchTracker(Tag rootTag) : rootTag_(rootTag) {}

  // Where the surface's origin is on the screen, for screenX/screenY.
  void SetScreenOrigin(Point origin) { screenOrigin_ = origin; }

  // Only the primary button starts a touch; a pointer already down, or a
  // press that hits nothing, gives no event.
  std::vector<ViewEvent> PointerDown(const MountedTree& tree, const PointerInput& input);
  // Moves and the end go to the view the touch started on, with locationX/Y
  // relative to it (even when the pointer left it).
  std::vector<ViewEvent> PointerMove(const MountedTree& tree, const PointerInput& input);
  std::vector<ViewEvent> PointerUp(const MountedTree& tree, const PointerInput& input);
  // Cancels one pointer's touch, or every active touch (grab lost, window
  // hidden) with CancelAll.
  std::vector<ViewEvent> PointerCancel(const MountedTree& tree, const PointerInput& input);
  std::vector<ViewEvent> CancelAll(const MountedTree& tree, double timestampMs);

  size_t ActiveTouches() const { return touches_.size(); }

 private:
  struct Touch {
    int identifier = 0;
    Tag target = 0;
    Point page;
    Point location;  // relative to target
    double timestampMs = 0;
  };
  Props TouchObject(const Touch& touch) const;
  Props Payload(const Touch& changed) const;
  // Refreshes the touch's point and its location in the target's coordinates
  // (kept as it was when the target has gone).
  void Update(const MountedTree& tree, Touch& touch, const PointerInput& input) const;
  std::vector<ViewEvent> Finish(const MountedTree& tree, const PointerInput& input, const char* type);

  Tag rootTag_;
  Point screenOrigin_;
  std::map<int, Touch> touches_;  // by pointer id
};

struct HoverResult {
  std::vector<ViewEvent> events;
  Cursor cursor = Cursor::Auto;
};

// Tracks which views under the mouse want hover events; enter and leave go
// to each such view on the path under the pointer (outermost first for
// enter, innermost first for leave), a move goes to the view under the
// pointer when any view on its path listens.
class HoverTracker {
 public:
  explicit HoverTracker(Tag rootTag) : rootTag_(rootTag) {}

  HoverResult Move(const MountedTree& tree, Point point, double timestampMs);
  // The pointer left the surface.
  HoverResult Leave(const MountedTree& tree, Point point, double timestampMs);

 private:
  Props Payload(const MountedTree& tree, Tag target, Point point, double timestampMs) const;

  Tag rootTag_;
  std::vector<Tag> hovered_;  // outermost first
};

}  // namespace VirelantDesktop::render
