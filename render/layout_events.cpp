#include "render/layout_events.h"

#include <unordered_set>

namespace VirelantDesktop::render {

Props LayoutEventPayload(const Rect& frame) {
  return Props{{"layout", {{"x", frame.x}, {"y", frame.y}, {"width", frame.width}, {"height", frame.height}}}};
}

void LayoutReporter::Consider(Tag tag, const ViewModel* model, const Rect& frame, std::vector<LayoutEvent>& events) {
  if (model == nullptr || !model->wantsLayout) {
    reported_.erase(tag);
    return;
  }
  const auto it = reported_.find(tag);
  if (it != reported_.end() && it->second == frame) return;
  reported_[tag] = frame;
  // A view laid out twice in one transaction hears only its last frame.
  for (auto& event : events) {
    if (event.tag == tag) {
      event.frame = frame;
      return;
    }
  }
  events.push_back({tag, frame});
}

std::vector<LayoutEvent> LayoutReporter::Collect(const MountTransaction& transaction,
                                                 const std::function<ViewModelPtr(Tag)>& modelOf) {
  std::vector<LayoutEvent> events;
  std::unordered_set<Tag> deleted;
  for (const auto& op : transaction.ops) {
    switch (op.kind) {
      case MountKind::Create:
        Consider(op.tag, op.model.get(), op.layout.frame, events);
        break;
      case MountKind::UpdateLayout: {
        if (op.tag == transaction.rootTag) break;
        const ViewModelPtr model = modelOf ? modelOf(op.tag) : nullptr;
        Consider(op.tag, model.get(), op.layout.frame, events);
        break;
      }
      case MountKind::UpdateProps:
        // onLayout switched off: a later switch on reports again.
        if (!op.model || !op.model->wantsLayout) reported_.erase(op.tag);
        break;
      case MountKind::Delete:
        reported_.erase(op.tag);
        deleted.insert(op.tag);
        break;
      default:
        break;
    }
  }
  std::erase_if(events, [&](const LayoutEvent& event) { return deleted.count(event.tag) != 0; });
  return events;
}

}  // namespace VirelantDesktop::render
