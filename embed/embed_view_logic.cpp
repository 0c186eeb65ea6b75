#include "embed/embed_view_logic.h"

namespace VirelantDesktop::Embed {

void EmbedStateChannel::Send(EmbedStateEvent event) {
  std::lock_guard lock(mutex_);
  if (!emitter_) {
    queue_.push_back(std::move(event));
    return;
  }
  emitter_(event);
}

void EmbedStateChannel::SetEmitter(Emitter emitter) {
  std::lock_guard lock(mutex_);
  emitter_ = std::move(emitter);
  if (!emitter_) return;
  while (!queue_.empty()) {
    emitter_(queue_.front());
    queue_.pop_front();
  }
}

EmbedPropsGate::Action EmbedPropsGate::OnProps(const TalvekEmbedProps& props) {
  if (loadStarted_ || props.vid.empty()) return Action::None;
  if (!IsValidContentId(props)) return Action::BadId;
  loadStarted_ = true;
  loaded_ = props;
  return Action::Load;
}

}  // namespace VirelantDesktop::Embed
