// The "topLayout" events of a commit: a view whose props ask for onLayout
// hears its frame (relative to its parent) when it is first laid out and
// whenever the frame changes afterwards, once per change.
//
// Not thread-safe: the JS thread keeps one per host.
#pragma once

#include <functional>
#include <unordered_map>
#include <vector>

#include "render/mount_ops.h"

namespace VirelantDesktop::render {

struct LayoutEvent {
  Tag tag = 0;
  Rect frame;
};

// {"layout": {"x", "y", "width", "height"}}
Props LayoutEventPayload(const Rect& frame);

class LayoutReporter {
 public:
  // `modelOf` gives the committed model of a view an UpdateLayout names
  // (null when unknown).
  std::vector<LayoutEvent> Collect(const MountTransaction& transaction,
                                   const std::function<ViewModelPtr(Tag)>& modelOf);
  size_t Tracked() const noexcept { return reported_.size(); }

 private:
  void Consider(Tag tag, const ViewModel* model, const Rect& frame, std::vector<LayoutEvent>& events);

  std::unordered_map<Tag, Rect> reported_;  // the last frame each listening view heard
};

}  // namespace VirelantDesktop::render
