// Looks at and acts on an X display the way a user and a window manager
// would: finds client windows by title, asks them to close, iconifies them,
// and reads which one is active. For the desktop suite and the window
// benchmark; needs no GoogleTest.
//
// Xlib stays out of this header (its macros clash with common names).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace VirelantDesktop::testing {

using XWindowId = unsigned long;  // an X window id; 0 is none

// A window's place on the screen and its size, X pixels.
struct XRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const XRect&) const = default;
};

class X11Probe {
 public:
  // Connects to $DISPLAY, or to `displayName` when given.
  explicit X11Probe(const char* displayName = nullptr);
  ~X11Probe();
  X11Probe(const X11Probe&) = delete;
  X11Probe& operator=(const X11Probe&) = delete;

  bool connected() const { return display_ != nullptr; }
  _XDisplay* display() const { return display_; }

  // Top-level client windows titled exactly `title` (_NET_WM_NAME, else
  // WM_NAME), and with `pid > 0` only those whose _NET_WM_PID is `pid`.
  // Clients come from the window manager's _NET_CLIENT_LIST; without one,
  // from the window tree. A withdrawn (hidden) window is no longer a client
  // of a window manager: keep its id to ask about it.
  std::vector<XWindowId> FindClients(const std::string& title, pid_t pid = 0) const;

  std::string Title(XWindowId window) const;         // "" when it has none
  std::string InstanceName(XWindowId window) const;  // WM_CLASS res_name
  pid_t Pid(XWindowId window) const;                 // _NET_WM_PID; 0 when unset

  // Mapped with all its ancestors (map_state IsViewable); false for a
  // window that no longer exists.
  bool Viewable(XWindowId window) const;
  // Sends WM_DELETE_WINDOW, as a window manager's close button does. False
  // when the window does not take that protocol (a window manager would
  // kill its client instead) or the message cannot be sent.
  bool RequestClose(XWindowId window) const;
  // Asks the window manager to iconify the window (XIconifyWindow).
  bool Iconify(XWindowId window) const;
  // The root window's _NET_ACTIVE_WINDOW; 0 when none.
  XWindowId ActiveWindow() const;
  // Where the window itself (not a window manager's frame around it) sits on
  // the root window, and its size; nullopt for a window that is gone.
  std::optional<XRect> Geometry(XWindowId window) const;
  // Asks for a new place and size the way a client does (a configure
  // request, which the window manager carries out for its frame), as a user
  // dragging and resizing the window would leave it.
  bool MoveResize(XWindowId window, const XRect& rect) const;
  // The root window's _NET_WORKAREA for the first desktop; nullopt when the
  // window manager publishes none.
  std::optional<XRect> WorkArea() const;

 private:
  std::vector<XWindowId> Clients() const;

  _XDisplay* display_ = nullptr;
};

// Calls `predicate` every `interval` until it holds (true) or `timeout`
// passes (false; the predicate is asked once more at the deadline).
bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval = std::chrono::milliseconds(20));

}  // namespace VirelantDesktop::testing
