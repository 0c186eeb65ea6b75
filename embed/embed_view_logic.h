// The parts of an embed view that need no web view: its state events, which
// wait until the view has an emitter, and the props rule (one load per
// view, a bad content id reported once).
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "embed/embed_policy.h"

namespace VirelantDesktop::Embed {

struct EmbedStateEvent {
  std::string state;   // "ready", "failed", "fallback"
  std::string reason;  // "" for ready; "bad-id", "runtime-missing", "env-failed", "nav-N", ...
};

// "embedState" events of one view. Sent before the emitter exists, they wait
// and go out in order once it is set.
class EmbedStateChannel {
 public:
  using Emitter = std::function<void(const EmbedStateEvent&)>;

  void Send(EmbedStateEvent event);
  void SetEmitter(Emitter emitter);

 private:
  std::mutex mutex_;  // guards emitter_ and queue_; held while queued events go out, so order holds
  Emitter emitter_;
  std::deque<EmbedStateEvent> queue_;
};

// Props updates of one view: the first update with a content id decides;
// later ones are ignored once loading started.
class EmbedPropsGate {
 public:
  enum class Action { None, BadId, Load };

  // None: ignored (loading started, or no id yet). BadId: send ("failed",
  // "bad-id"). Load: start loading Loaded().
  Action OnProps(const TalvekEmbedProps& props);
  const TalvekEmbedProps& Loaded() const noexcept { return loaded_; }
  bool LoadStarted() const noexcept { return loadStarted_; }

 private:
  bool loadStarted_ = false;
  TalvekEmbedProps loaded_;
};

}  // namespace VirelantDesktop::Embed
