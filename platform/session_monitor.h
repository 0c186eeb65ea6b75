// The desktop session's lock state and its end, for the main window's
// visibility and its end-of-session path.
//
// Sources: the screen saver's ActiveChanged(bool) signal on the session bus
// (org.freedesktop.ScreenSaver and org.gnome.ScreenSaver, from any sender),
// and, where a system bus exists, logind: Lock/Unlock of this process's
// session and the manager's PrepareForShutdown(true). Used on the UI thread
// only; events arrive on that thread (the default GLib main context).
#pragma once

#include <functional>
#include <memory>

namespace VirelantDesktop::platform {

struct SessionEvents {
  std::function<void(bool locked)> lockChanged;
  std::function<void()> endOfSession;  // the machine is shutting down or the session ends
};

class SessionMonitor {
 public:
  virtual ~SessionMonitor() = default;
  // Subscribes to the session bus (required) and logind (optional). False
  // when the session bus cannot be reached; the caller retries later.
  // True once registered; further calls do nothing and return true.
  virtual bool Register() = 0;
  // Drops every subscription. Harmless when not registered.
  virtual void Unregister() = 0;
  virtual bool IsRegistered() const = 0;
};

std::unique_ptr<SessionMonitor> MakeSessionMonitor(SessionEvents events);

}  // namespace VirelantDesktop::platform
