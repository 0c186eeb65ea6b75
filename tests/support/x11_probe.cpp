#include "tests/support/x11_probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace VirelantDesktop::testing {
namespace {

// Windows come and go while a probe looks at them; a request on one that
// is gone fails (the caller sees the failed status) instead of ending the
// process, which Xlib's default error handler would do.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

Atom Intern(Display* display, const char* name) { return XInternAtom(display, name, False); }

// A property of 8-bit items as bytes; nullopt when the window lacks it (or
// it has another type or format).
std::optional<std::string> ReadBytes(Display* display, Window window, Atom property, Atom type) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long items = 0;
  unsigned long bytesAfter = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1L << 20, False, type, &actualType, &actualFormat,
                         &items, &bytesAfter, &data) != Success) {
    return std::nullopt;
  }
  std::optional<std::string> result;
  if (actualType != None && actualFormat == 8) result.emplace(reinterpret_cast<char*>(data), items);
  if (data != nullptr) XFree(data);
  return result;
}

// A property of 32-bit items, which Xlib hands out as longs.
std::optional<std::vector<unsigned long>> ReadLongs(Display* display, Window window, Atom property, Atom type) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long items = 0;
  unsigned long bytesAfter = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1L << 20, False, type, &actualType, &actualFormat,
                         &items, &bytesAfter, &data) != Success) {
    return std::nullopt;
  }
  std::optional<std::vector<unsigned long>> result;
  if (actualType != None && actualFormat == 32) {
    const auto* values = reinterpret_cast<const unsigned long*>(data);
    result.emplace(values, values + items);
  }
  if (data != nullptr) XFree(data);
  return result;
}

bool HasProperty(Display* display, Window window, Atom property) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long items = 0;
  unsigned long bytesAfter = 0;
  unsigned char* data = nullptr;
  const bool read = XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &actualType,
                                       &actualFormat, &items, &bytesAfter, &data) == Success;
  if (data != nullptr) XFree(data);
  return read && actualType != None;
}

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return {};
  std::vector<Window> result(children, children + count);
  if (children != nullptr) XFree(children);
  return result;
}

// The client inside a window manager's frame: the first window at or below
// `window` that carries WM_STATE; 0 when there is none.
Window ClientAtOrBelow(Display* display, Window window, Atom wmState, int depth) {
  if (HasProperty(display, window, wmState)) return window;
  if (depth >= 4) return 0;
  for (Window child : Children(display, window)) {
    if (Window client = ClientAtOrBelow(display, child, wmState, depth + 1); client != 0) return client;
  }
  return 0;
}

}  // namespace

X11Probe::X11Probe(const char* displayName) {
  static std::once_flag handlerSet;
  std::call_once(handlerSet, [] { XSetErrorHandler(IgnoreXError); });
  display_ = XOpenDisplay(displayName);
}

X11Probe::~X11Probe() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

std::vector<XWindowId> X11Probe::Clients() const {
  const Window root = DefaultRootWindow(display_);
  if (auto listed = ReadLongs(display_, root, Intern(display_, "_NET_CLIENT_LIST"), XA_WINDOW)) {
    return {listed->begin(), listed->end()};
  }
  // No window manager list: the top-level windows themselves, or the
  // clients inside frames of a window manager that keeps none.
  const Atom wmState = Intern(display_, "WM_STATE");
  std::vector<XWindowId> clients;
  for (Window topLevel : Children(display_, root)) {
    const Window client = ClientAtOrBelow(display_, topLevel, wmState, 0);
    clients.push_back(client != 0 ? client : topLevel);
  }
  return clients;
}

std::vector<XWindowId> X11Probe::FindClients(const std::string& title, pid_t pid) const {
  std::vector<XWindowId> found;
  if (display_ == nullptr) return found;
  for (XWindowId window : Clients()) {
    if (Title(window) == title && (pid <= 0 || Pid(window) == pid)) found.push_back(window);
  }
  return found;
}

std::string X11Probe::Title(XWindowId window) const {
  if (display_ == nullptr) return "";
  if (auto name = ReadBytes(display_, window, Intern(display_, "_NET_WM_NAME"), Intern(display_, "UTF8_STRING"))) {
    return *name;
  }
  return ReadBytes(display_, window, XA_WM_NAME, AnyPropertyType).value_or("");
}

std::string X11Probe::InstanceName(XWindowId window) const {
  if (display_ == nullptr) return "";
  // WM_CLASS: res_name NUL res_class NUL
  const std::string value = ReadBytes(display_, window, XA_WM_CLASS, XA_STRING).value_or("");
  return value.substr(0, value.find('\0'));
}

pid_t X11Probe::Pid(XWindowId window) const {
  if (display_ == nullptr) return 0;
  const auto values = ReadLongs(display_, window, Intern(display_, "_NET_WM_PID"), XA_CARDINAL);
  return values && !values->empty() ? static_cast<pid_t>(values->front()) : 0;
}

bool X11Probe::Viewable(XWindowId window) const {
  if (display_ == nullptr) return false;
  XWindowAttributes attributes;
  return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

bool X11Probe::RequestClose(XWindowId window) const {
  if (display_ == nullptr) return false;
  const Atom deleteWindow = Intern(display_, "WM_DELETE_WINDOW");
  Atom* protocols = nullptr;
  int count = 0;
  bool takesDelete = false;
  if (XGetWMProtocols(display_, window, &protocols, &count) != 0) {
    for (int i = 0; i < count; ++i) takesDelete = takesDelete || protocols[i] == deleteWindow;
    XFree(protocols);
  }
  if (!takesDelete) return false;

  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = Intern(display_, "WM_PROTOCOLS");
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(deleteWindow);
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display_, window, False, NoEventMask, &event) != 0;
  XSync(display_, False);
  return sent;
}

bool X11Probe::Iconify(XWindowId window) const {
  if (display_ == nullptr) return false;
  const bool sent = XIconifyWindow(display_, window, DefaultScreen(display_)) != 0;
  XSync(display_, False);
  return sent;
}

XWindowId X11Probe::ActiveWindow() const {
  if (display_ == nullptr) return 0;
  const auto values =
      ReadLongs(display_, DefaultRootWindow(display_), Intern(display_, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
  return values && !values->empty() ? values->front() : 0;
}

std::optional<XRect> X11Probe::Geometry(XWindowId window) const {
  if (display_ == nullptr) return std::nullopt;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display_, window, &attributes) == 0) return std::nullopt;
  int x = 0;
  int y = 0;
  Window child = 0;
  if (XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child) == 0) {
    return std::nullopt;
  }
  return XRect{x, y, attributes.width, attributes.height};
}

bool X11Probe::MoveResize(XWindowId window, const XRect& rect) const {
  if (display_ == nullptr || rect.width <= 0 || rect.height <= 0) return false;
  XMoveResizeWindow(display_, window, rect.x, rect.y, static_cast<unsigned>(rect.width),
                    static_cast<unsigned>(rect.height));
  XSync(display_, False);
  return true;
}

std::optional<XRect> X11Probe::WorkArea() const {
  if (display_ == nullptr) return std::nullopt;
  const auto values =
      ReadLongs(display_, DefaultRootWindow(display_), Intern(display_, "_NET_WORKAREA"), XA_CARDINAL);
  if (!values || values->size() < 4) return std::nullopt;
  return XRect{static_cast<int>((*values)[0]), static_cast<int>((*values)[1]), static_cast<int>((*values)[2]),
               static_cast<int>((*values)[3])};
}

bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (predicate()) return true;
    std::this_thread::sleep_for(interval);
  }
  return predicate();
}

}  // namespace VirelantDesktop::testing
