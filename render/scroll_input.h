// Scrolling on the UI thread: the wheel and the touchpad, the momentum that
// follows a touchpad flick, the scrollTo / scrollToEnd commands (animated or
// not), and the scroll events the bundle hears, throttled as each scroll
// view asks. Works on a MountedTree; the toolkit feeds it input and time.
//
// Not thread-safe: the UI thread owns it with the tree.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/mounted_tree.h"
#include "render/scroll_view.h"
#include "render/touch_events.h"

namespace VirelantDesktop::render {

inline constexpr double kScrollAnimationMs = 250;
// Momentum decays with this time constant and stops below kMomentumStop.
inline constexpr double kMomentumTimeConstantMs = 325;
inline constexpr double kMomentumStopPxPerMs = 0.02;
// The strip along a scroll view's edge where a press belongs to its scrollbar.
inline constexpr float kScrollbarHitWidth = 12;

class ScrollController {
 public:
  // A wheel notch or touchpad motion at `p` (absolute logical pixels):
  // `delta` in notches (smooth deltas in fractions of one) on the screen's
  // axes. The innermost scroll view under `p` that can move that way (in
  // its own axes: an inverted list turns the wheel round) takes it.
  // `smooth` motions are remembered for the momentum after `TouchpadStop`.
  // True when something moved.
  bool Wheel(MountedTree& tree, Tag rootTag, Point p, Point delta, bool smooth, double nowMs);
  // The fingers left the touchpad: the last flick goes on and slows down.
  void TouchpadStop(MountedTree& tree, double nowMs);

  // A scrolling key: the innermost scroll view under `pointer` that the key
  // moves, else the largest one on the surface that it moves; the move is
  // animated. True when something will move.
  bool Key(MountedTree& tree, Tag rootTag, std::optional<Point> pointer, ScrollKey key, double nowMs);

  // A press at `p` on a scroll view's scrollbar (the strip along its right
  // or bottom edge, kScrollbarHitWidth wide, where an indicator is drawn):
  // on the thumb it starts a drag that moves the content with the pointer;
  // beside the thumb it pages towards the press. True when the scrollbar
  // took the press (the touch then does not start).
  bool PressScrollbar(MountedTree& tree, Tag rootTag, Point p, double nowMs);
  // The pointer moved during a thumb drag; true while one runs.
  bool DragScrollbar(MountedTree& tree, Point p);
  // The button was released: the drag ends. True when one ran.
  bool ReleaseScrollbar() noexcept;

  // "scrollTo" [x, y, animated] and "scrollToEnd" [animated] for a scroll
  // view; false when `tag` is not one or the command is unknown (a command
  // for a view that is gone is dropped, as it would be with no view).
  bool Command(MountedTree& tree, Tag tag, const std::string& command, const Props& args, double nowMs);

  // Moves the animations on; true while one still runs.
  bool Tick(MountedTree& tree, double nowMs);
  bool Animating() const noexcept { return !animations_.empty(); }

  // The scroll events due now: "topScroll" for the views that moved (at
  // most one per view per throttle period), "topMomentumScrollBegin" /
  // "topMomentumScrollEnd" around momentum. Views whose event was held back
  // are reported by a later call at or after NextDueMs().
  std::vector<ViewEvent> TakeEvents(MountedTree& tree, double nowMs);
  // When held-back events are due; 0 when none are.
  double NextDueMs() const noexcept;

 private:
  struct Animation {
    Point from;
    Point to;          // scrollTo / scrollToEnd
    Point velocity;    // momentum, px per ms
    double startMs = 0;
    bool momentum = false;
  };
  struct Flick {
    Point velocity;  // px per ms, smoothed
    double lastMs = 0;
  };

  void Stop(Tag tag, std::vector<ViewEvent>* events);
  void AnimateTo(MountedTree& tree, Tag tag, Point target, double nowMs);

  std::unordered_map<Tag, Animation> animations_;
  std::unordered_map<Tag, Flick> flicks_;
  std::unordered_map<Tag, ScrollEventThrottle> throttles_;
  struct ThumbDrag {
    Tag tag = 0;
    bool vertical = true;
    float startPointer = 0;  // along the track, in the view's coordinates
    float startOffset = 0;
    float contentPerPixel = 0;  // content moved per pixel of thumb
  };
  std::optional<ThumbDrag> drag_;

  struct Held {
    Tag tag = 0;
    double dueMs = 0;
  };
  std::vector<Held> held_;  // moved, event not sent yet
  std::vector<ViewEvent> pending_;  // momentum begin / end, sent with the next events
};

}  // namespace VirelantDesktop::render
