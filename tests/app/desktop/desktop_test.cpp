// The shell as a user meets it on a desktop: its window, its tray menu and
// its single instance, on a real X server with a window manager and a
// session bus (scripts/with-desktop.sh provides all three). Each test starts
// talvek with HOME, XDG folders and a runtime folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/product_fonts.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x11_probe.h"

// Xlib last: its macros (None, Bool, Status, ...) clash with names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace VirelantDesktop::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kTitle = "TALVEK";
constexpr auto kStartTimeout = 20s;  // a cold start to its window, on a busy machine
constexpr auto kChangeTimeout = 5s;  // a running shell's reaction to a request
constexpr auto kSettle = 500ms;      // "keeps running" means: still alive this long after

bool HaveDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

class ShellDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY: run under scripts/with-desktop.sh";
    ASSERT_TRUE(probe_.connected()) << "cannot open DISPLAY " << std::getenv("DISPLAY");
    for (const char* folder : {"home", "data", "config", "cache", "state", "runtime"}) {
      std::filesystem::create_directory(home_.Join(folder));
      std::filesystem::permissions(home_.Join(folder), std::filesystem::perms::owner_all);
    }
    // Fonts as an earlier start left them: the shell runs on in the process
    // the test started (a first start relaunches itself).
    const std::string executable = TALVEK_PATH;
    PreinstallProductFonts(home_.Join("data"), executable.substr(0, executable.rfind('/')));
    // The display and the session bus stay the suite's.
    environment_ = WithVariables(CurrentEnvironment(), {{"HOME", home_.Join("home")},
                                                        {"XDG_DATA_HOME", home_.Join("data")},
                                                        {"XDG_CONFIG_HOME", home_.Join("config")},
                                                        {"XDG_CACHE_HOME", home_.Join("cache")},
                                                        {"XDG_STATE_HOME", home_.Join("state")},
                                                        {"XDG_RUNTIME_DIR", home_.Join("runtime")}});
  }

  std::unique_ptr<ChildProcess> StartShell() {
    return std::make_unique<ChildProcess>(std::vector<std::string>{TALVEK_PATH}, environment_);
  }

  // The viewable window titled "TALVEK" of process `pid`; 0 when none shows
  // in time.
  XWindowId ShownWindow(pid_t pid, std::chrono::milliseconds timeout = kStartTimeout) {
    XWindowId shown = 0;
    WaitFor(
        [&] {
          for (XWindowId window : probe_.FindClients(kTitle, pid)) {
            if (probe_.Viewable(window)) shown = window;
          }
          return shown != 0;
        },
        timeout);
    return shown;
  }

  bool BecomesHidden(XWindowId window) {
    return WaitFor([&] { return !probe_.Viewable(window); }, kChangeTimeout);
  }

  X11Probe probe_;
  TempDir home_;
  std::vector<std::string> environment_;
};

TEST_F(ShellDesktop, ClosingOnlyHidesTheWindowAndASecondStartBringsItBack) {
  auto shell = StartShell();
  ASSERT_TRUE(shell->started());
  XWindowId window = ShownWindow(shell->pid());
  ASSERT_NE(window, 0u) << "no viewable window titled " << kTitle;
  EXPECT_EQ(probe_.FindClients(kTitle, shell->pid()).size(), 1u) << "one top-level window";
  EXPECT_EQ(probe_.InstanceName(window), "talvek");

  ASSERT_TRUE(probe_.RequestClose(window)) << "the window takes WM_DELETE_WINDOW";
  EXPECT_TRUE(BecomesHidden(window)) << "closing hides the window";
  std::this_thread::sleep_for(kSettle);
  ASSERT_TRUE(shell->Running()) << "closing the window ends the process";

  for (const bool iconified : {false, true}) {
    SCOPED_TRACE(iconified ? "window iconified" : "window closed");
    if (iconified) {
      ASSERT_TRUE(probe_.Iconify(window));
      ASSERT_TRUE(BecomesHidden(window));
    }
    ChildProcess second({TALVEK_PATH}, environment_);
    EXPECT_EQ(second.Wait(10s), 0) << "a second start hands over and exits 0";
    window = ShownWindow(shell->pid(), kChangeTimeout);
    ASSERT_NE(window, 0u) << "the running instance shows its window again";
    EXPECT_TRUE(WaitFor([&] { return probe_.ActiveWindow() == window; }, kChangeTimeout))
        << "and activates it; active: " << probe_.ActiveWindow();
  }
  EXPECT_TRUE(shell->Running());
}

// The shell with a bundle of the test's own: the program is linked (or
// copied) into a folder whose Bundle/index.windows is `bundle`.
std::string InstallShellWithBundle(const TempDir& dir, const std::string& bundle, bool withWebEngine = true) {
  namespace fs = std::filesystem;
  const fs::path program = fs::path(TALVEK_PATH);
  const fs::path target = fs::path(dir.path()) / "talvek";
  std::error_code error;
  fs::create_hard_link(program, target, error);
  if (error) fs::copy_file(program, target, error);
  fs::copy(program.parent_path() / "icons", fs::path(dir.path()) / "icons", fs::copy_options::recursive, error);
  // The web engine library, when it was built, goes beside the program.
  if (withWebEngine && fs::exists(program.parent_path() / "libtalvek-webkit.so")) {
    fs::create_hard_link(program.parent_path() / "libtalvek-webkit.so", fs::path(dir.path()) / "libtalvek-webkit.so",
                         error);
  }
  fs::create_directories(fs::path(dir.path()) / "Bundle");
  WriteTextFile(dir.Join("Bundle/index.windows"), bundle);
  return target.string();
}

TEST_F(ShellDesktop, FolderChooserCancelsToNullAndVisibilityFollowsTheWindowAndTheLock) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, R"(
const shell = globalThis.__turboModuleProxy('Shell');
RCTDeviceEventEmitter.addListener('Shell.windowVisibility', (e) => console.log('visible ' + e.visible));
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  console.log('asking');
  console.log('picked ' + JSON.stringify(await shell.pickFolder()));
});
)");
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(shell.WaitForOutput("asking", kStartTimeout)) << shell.output();
  // The chooser is modal over the window and takes the keyboard once mapped.
  const bool cancelled = WaitFor(
      [&] {
        ChildProcess key({"xdotool", "key", "Escape"});
        key.Wait(5s);
        return shell.WaitForOutput("picked", 300ms);
      },
      10s, 0ms);
  ASSERT_TRUE(cancelled) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("picked null", 1s)) << shell.output();

  const std::string before = shell.output();
  EXPECT_NE(before.find("visible true"), std::string::npos) << "sent once at start";
  // Waits for `expected` after position `from` of the output (earlier lines
  // hold the same words, so reading is driven by a text never printed).
  auto next = [&](const std::string& expected, size_t& from) {
    const bool seen = WaitFor(
        [&] {
          shell.WaitForOutput("\x01", 50ms);
          return shell.output().find(expected, from) != std::string::npos;
        },
        kChangeTimeout);
    if (seen) from = shell.output().find(expected, from) + expected.size();
    return seen;
  };
  size_t from = before.size();
  ASSERT_TRUE(probe_.Iconify(window));
  EXPECT_TRUE(next("visible false", from)) << "minimised: " << shell.output();
  ChildProcess second({program}, environment_);  // a second start restores and activates the window
  EXPECT_EQ(second.Wait(10s), 0);
  EXPECT_NE(ShownWindow(shell.pid(), kChangeTimeout), 0u) << "shown again";
  EXPECT_TRUE(next("visible true", from)) << "restored: " << shell.output();

  for (const char* active : {"true", "false"}) {
    ChildProcess lock({"gdbus", "emit", "--session", "--object-path", "/org/freedesktop/ScreenSaver", "--signal",
                       "org.freedesktop.ScreenSaver.ActiveChanged", active});
    EXPECT_EQ(lock.Wait(5s), 0);
    EXPECT_TRUE(next(std::string("visible ") + (std::string(active) == "true" ? "false" : "true"), from))
        << "screen saver " << active << ": " << shell.output();
  }
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

// Clicks a tray menu item as a tray host does; gdbus's exit code.
[[maybe_unused]] int ClickMenuItem(const std::string& service, int id) {
  ChildProcess gdbus({"gdbus", "call", "--session", "--dest", service, "--object-path", "/MenuBar", "--method",
                      "com.canonical.dbusmenu.Event", std::to_string(id), "'clicked'", "<int32 0>", "0"});
  return gdbus.Wait(10s);
}

TEST_F(ShellDesktop, TrayItemRegistersAndItsMenuOpensAndQuits) {
#ifndef TALVEK_SNI_WATCHER_PATH
  GTEST_SKIP() << "built without the talvek-test-sni-watcher program";
#else
  ChildProcess watcher({TALVEK_SNI_WATCHER_PATH});
  ASSERT_TRUE(watcher.WaitForOutput("ready\n", 10s)) << watcher.output();
  auto shell = StartShell();
  ASSERT_TRUE(shell->started());
  const std::string service = "org.kde.StatusNotifierItem-" + std::to_string(shell->pid()) + "-1";
  ASSERT_TRUE(watcher.WaitForOutput("registered " + service + " ", kStartTimeout)) << watcher.output();

  const XWindowId window = ShownWindow(shell->pid());
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(probe_.RequestClose(window));
  ASSERT_TRUE(BecomesHidden(window));
  EXPECT_EQ(ClickMenuItem(service, 40001), 0);
  EXPECT_NE(ShownWindow(shell->pid(), kChangeTimeout), 0u) << "Open TALVEK shows the window";

  EXPECT_EQ(ClickMenuItem(service, 40002), 0) << "the click is answered before the process ends";
  EXPECT_EQ(shell->Wait(6s), 0) << "Quit ends the process with 0";
#endif
}

std::string Describe(const std::optional<XRect>& rect) {
  if (!rect) return "none";
  std::ostringstream text;
  text << rect->width << "x" << rect->height << "+" << rect->x << "+" << rect->y;
  return text.str();
}

TEST_F(ShellDesktop, AWindowClosedToTheTrayComesBackWhereItWasThroughEveryPath) {
#ifndef TALVEK_SNI_WATCHER_PATH
  GTEST_SKIP() << "built without the talvek-test-sni-watcher program";
#else
  ChildProcess watcher({TALVEK_SNI_WATCHER_PATH});
  ASSERT_TRUE(watcher.WaitForOutput("ready\n", 10s)) << watcher.output();
  auto shell = StartShell();
  ASSERT_TRUE(shell->started());
  const std::string service = "org.kde.StatusNotifierItem-" + std::to_string(shell->pid()) + "-1";
  ASSERT_TRUE(watcher.WaitForOutput("registered " + service + " ", kStartTimeout)) << watcher.output();
  XWindowId window = ShownWindow(shell->pid());
  ASSERT_NE(window, 0u);

  struct Path {
    const char* name;
    std::function<void()> reopen;
  };
  const std::vector<Path> paths = {
      {"Open TALVEK", [&] { EXPECT_EQ(ClickMenuItem(service, 40001), 0); }},
      {"a click on the tray icon",
       [&] {
         ChildProcess gdbus({"gdbus", "call", "--session", "--dest", service, "--object-path", "/StatusNotifierItem",
                             "--method", "org.kde.StatusNotifierItem.Activate", "0", "0"});
         EXPECT_EQ(gdbus.Wait(10s), 0);
       }},
      {"a second start",
       [&] {
         ChildProcess second({TALVEK_PATH}, environment_);
         EXPECT_EQ(second.Wait(10s), 0);
       }},
  };
  // A different place and size each round, none of them where a window
  // manager would put a new window.
  int round = 0;
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    const XRect wanted{97 + 211 * round, 61 + 53 * round, 470 + 20 * round, 700 + 30 * round};
    ++round;
    ASSERT_TRUE(probe_.MoveResize(window, wanted));
    std::optional<XRect> before;
    ASSERT_TRUE(WaitFor(
        [&] {
          before = probe_.Geometry(window);
          return before && before->width == wanted.width && before->height == wanted.height;
        },
        kChangeTimeout))
        << "the window manager moves and resizes the window; now " << Describe(before);
    std::this_thread::sleep_for(kSettle);  // the shell took in its new place
    before = probe_.Geometry(window);
    ASSERT_TRUE(before);

    ASSERT_TRUE(probe_.RequestClose(window));
    ASSERT_TRUE(BecomesHidden(window));
    path.reopen();
    window = ShownWindow(shell->pid(), kChangeTimeout);
    ASSERT_NE(window, 0u) << "shown again";
    std::optional<XRect> after;
    EXPECT_TRUE(WaitFor(
        [&] {
          after = probe_.Geometry(window);
          return after == before;
        },
        kChangeTimeout))
        << "before closing: " << Describe(before) << ", after: " << Describe(after);
  }
  EXPECT_TRUE(shell->Running());
#endif
}

// A panel along the left and bottom edges of the screen, as a desktop's
// dock has: the window manager takes its struts off the work area.
class Panel {
 public:
  Panel(int left, int bottom) : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr) return;
    const Window root = DefaultRootWindow(display_);
    const int screenHeight = DisplayHeight(display_, DefaultScreen(display_));
    window_ = XCreateSimpleWindow(display_, root, 0, screenHeight - bottom, 10, bottom, 0, 0, 0);
    const Atom type = XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False);
    const Atom dock = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(display_, window_, type, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&dock),
                    1);
    // left, right, top, bottom, then the start and end of each along its edge
    const long strut[12] = {left, 0, 0, bottom, 0, screenHeight - 1, 0, 0, 0, 0, 0, 4095};
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(strut), 12);
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_STRUT", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(strut), 4);
    XMapWindow(display_, window_);
    XSync(display_, False);
  }
  ~Panel() {
    if (display_ == nullptr) return;
    if (window_ != 0) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

 private:
  Display* display_;
  Window window_ = 0;
};

// A small screen, made with a panel on the left and at the bottom. A work
// area 768 pixels high fits the window only once its title bar is counted:
// then the window manager places it, inside the work area. One 600 pixels
// high is too small for the window even at its smallest: window managers
// put such a window in the corner, so it opens across the middle with its
// top at the work area's top.
TEST_F(ShellDesktop, OnASmallWorkAreaTheFirstWindowIsNotPinnedToTheLeftEdge) {
  const int screenWidth = DisplayWidth(probe_.display(), DefaultScreen(probe_.display()));
  const int screenHeight = DisplayHeight(probe_.display(), DefaultScreen(probe_.display()));
  for (const int workHeight : {768, 600}) {
    SCOPED_TRACE("work area height " + std::to_string(workHeight));
    const XRect work{150, 0, screenWidth - 150, workHeight};
    Panel panel(work.x, screenHeight - work.height);
    std::optional<XRect> published;
    ASSERT_TRUE(WaitFor([&] { return (published = probe_.WorkArea()) == work; }, kChangeTimeout))
        << "work area " << Describe(published);

    auto shell = StartShell();
    const XWindowId window = ShownWindow(shell->pid());
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(kSettle);  // placed, then clamped once placed
    const std::optional<XRect> placed = probe_.Geometry(window);
    ASSERT_TRUE(placed);
    EXPECT_GT(placed->x, work.x) << Describe(placed) << ": pinned to the left edge";
    EXPECT_LE(placed->x + placed->width, work.x + work.width) << Describe(placed);
    EXPECT_EQ(placed->y, work.y) << Describe(placed);
    if (workHeight == 768) {
      EXPECT_LE(placed->height, work.height) << Describe(placed) << ": fits, title bar and all";
    } else {
      EXPECT_NEAR(placed->x, work.x + (work.width - placed->width) / 2, 1) << Describe(placed);
    }
    shell->Signal(SIGTERM);
    EXPECT_EQ(shell->Wait(10s), 0);
  }
}

TEST_F(ShellDesktop, TwentySimultaneousStartsLeaveOneRunning) {
  std::vector<std::unique_ptr<ChildProcess>> starts;
  for (int i = 0; i < 20; ++i) starts.push_back(StartShell());
  const auto ended = [&] {
    return std::count_if(starts.begin(), starts.end(), [](const auto& start) { return !start->Running(); });
  };
  ASSERT_TRUE(WaitFor([&] { return ended() >= 19; }, 60s)) << ended() << " of 20 ended";
  std::this_thread::sleep_for(kSettle);

  ChildProcess* survivor = nullptr;
  for (const auto& start : starts) {
    if (start->Running()) {
      EXPECT_EQ(survivor, nullptr) << "a second instance keeps running";
      survivor = start.get();
    } else {
      EXPECT_EQ(start->Wait(0ms), 0) << "pid " << start->pid();
    }
  }
  ASSERT_NE(survivor, nullptr) << "every start ended";
  EXPECT_NE(ShownWindow(survivor->pid()), 0u);
  size_t windows = 0;
  for (const auto& start : starts) windows += probe_.FindClients(kTitle, start->pid()).size();
  EXPECT_EQ(windows, 1u);
}

TEST_F(ShellDesktop, AStartAfterTheInstanceWasKilledRunsOnItsOwn) {
  auto first = StartShell();
  ASSERT_NE(ShownWindow(first->pid()), 0u);
  first->Signal(SIGKILL);
  ASSERT_EQ(first->Wait(5s), 128 + SIGKILL);

  auto next = StartShell();
  EXPECT_NE(ShownWindow(next->pid()), 0u) << "the new start shows a window of its own";
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(next->Running()) << "it handed over to the killed instance";
}

// The probe on a plain Xlib window of the test's own: the tests above take
// its word on what the window manager did.
TEST(X11Probe, FindsClosesAndIconifiesAClientThroughTheWindowManager) {
  if (!HaveDisplay()) GTEST_SKIP() << "no DISPLAY: run under scripts/with-desktop.sh";
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  ASSERT_NE(display, nullptr);
  const char* title = "talvek probe check";
  const Window window =
      XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 200, 100, 0, 0, 0);
  XStoreName(display.get(), window, title);
  Atom deleteWindow = XInternAtom(display.get(), "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display.get(), window, &deleteWindow, 1);
  const long pid = getpid();
  XChangeProperty(display.get(), window, XInternAtom(display.get(), "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  XMapWindow(display.get(), window);
  XFlush(display.get());

  X11Probe probe;
  ASSERT_TRUE(WaitFor([&] { return probe.FindClients(title, getpid()).size() == 1; }, kChangeTimeout));
  EXPECT_EQ(probe.FindClients(title, getpid()).front(), window) << "the client, not the manager's frame";
  EXPECT_TRUE(probe.FindClients(title, getpid() + 1).empty());
  EXPECT_TRUE(probe.FindClients("talvek probe").empty()) << "titles match exactly";
  EXPECT_TRUE(WaitFor([&] { return probe.Viewable(window) && probe.ActiveWindow() == window; }, kChangeTimeout));

  ASSERT_TRUE(probe.RequestClose(window));
  EXPECT_TRUE(WaitFor(
      [&] {
        while (XPending(display.get()) > 0) {
          XEvent event;
          XNextEvent(display.get(), &event);
          if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) return true;
        }
        return false;
      },
      kChangeTimeout))
      << "WM_DELETE_WINDOW arrives";

  ASSERT_TRUE(probe.Iconify(window));
  EXPECT_TRUE(WaitFor([&] { return !probe.Viewable(window); }, kChangeTimeout));
  XDestroyWindow(display.get(), window);
}

// ---- what the bundle renders --------------------------------------------------------

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// The window's pixels, read once from the X server.
class WindowPixels {
 public:
  WindowPixels(Display* display, XWindowId window) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0) return;
    // Only the part on the screen can be read (a window taller than the
    // screen, e.g. at twice the scale, would fail as a whole).
    int rootX = 0, rootY = 0;
    ::Window child = 0;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &rootX, &rootY, &child);
    const int screenWidth = WidthOfScreen(attributes.screen), screenHeight = HeightOfScreen(attributes.screen);
    width_ = std::min(attributes.width, screenWidth - std::max(0, rootX));
    height_ = std::min(attributes.height, screenHeight - std::max(0, rootY));
    if (width_ <= 0 || height_ <= 0 || rootX < 0 || rootY < 0) {
      width_ = height_ = 0;
      return;
    }
    image_ = XGetImage(display, window, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_), AllPlanes,
                       ZPixmap);
  }
  ~WindowPixels() {
    if (image_ != nullptr) XDestroyImage(image_);
  }
  WindowPixels(const WindowPixels&) = delete;
  WindowPixels& operator=(const WindowPixels&) = delete;

  bool valid() const { return image_ != nullptr; }
  Rgb At(int x, int y) const {
    const unsigned long pixel = XGetPixel(image_, x, y);
    return Rgb{static_cast<int>((pixel >> 16) & 0xff), static_cast<int>((pixel >> 8) & 0xff),
               static_cast<int>(pixel & 0xff)};
  }
  // The bounding box of the pixels of exactly `colour` from row `fromY`
  // down; empty when none.
  std::optional<XRect> BoxOf(Rgb colour, int fromY = 0) const {
    if (image_ == nullptr) return std::nullopt;
    int left = width_, top = height_, right = -1, bottom = -1;
    for (int y = std::max(0, fromY); y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (!(At(x, y) == colour)) continue;
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
      }
    }
    if (right < 0) return std::nullopt;
    return XRect{left, top, right - left + 1, bottom - top + 1};
  }

 private:
  int width_ = 0;
  int height_ = 0;
  XImage* image_ = nullptr;
};

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

std::string ReadBundle(const char* path) { return ReadTextFile(path); }

void SaveScreenshot(const std::string& name) {
  std::filesystem::create_directories(TALVEK_ARTEFACTS);
  ChildProcess shot({"import", "-window", "root", std::string(TALVEK_ARTEFACTS) + "/" + name});
  shot.Wait(10s);
}

// The box of `colour` in the window once it is drawn; nullopt at the deadline.
std::optional<XRect> WaitForColour(Display* display, XWindowId window, Rgb colour, std::chrono::milliseconds timeout) {
  std::optional<XRect> box;
  WaitFor(
      [&] {
        box = WindowPixels(display, window).BoxOf(colour);
        return box.has_value();
      },
      timeout);
  return box;
}

// A left click at (x, y) of the window; the tool's exit code.
int ClickAt(XWindowId window, int x, int y) {
  ChildProcess click({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y),
                      "click", "1"});
  return click.Wait(10s);
}

TEST_F(ShellDesktop, AReactAppDrawsItsViewsPressesRedrawAndResizingLaysOutAgain) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(RENDER_APP_BUNDLE));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  ASSERT_NE(display, nullptr);

  // The red box: 120 x 60 at the root's padding; the blue pressable below it.
  std::optional<XRect> red, blue;
  ASSERT_TRUE(WaitFor(
      [&] {
        WindowPixels pixels(display.get(), window);
        red = pixels.BoxOf({255, 0, 0});
        blue = pixels.BoxOf({0, 0, 255});
        return red && blue;
      },
      kStartTimeout))
      << shell.output();
  SaveScreenshot("render_app.png");
  EXPECT_EQ(red->width, 120);
  EXPECT_EQ(red->height, 60);
  EXPECT_EQ(blue->width, 100);
  EXPECT_EQ(blue->height, 40);
  EXPECT_EQ(blue->x, red->x) << "both start at the padding";
  EXPECT_EQ(blue->y, red->y + 60 + 20) << "the margin between them";
  {
    WindowPixels pixels(display.get(), window);
    // Inside the padding the root's black shows; the text is drawn in white
    // somewhere below the bar.
    EXPECT_EQ(pixels.At(red->x - 10, red->y + 10), (Rgb{0, 0, 0}));
    const auto yellow = pixels.BoxOf({255, 255, 0});
    ASSERT_TRUE(yellow.has_value());
    // "Hello TALVEK" in white, after the bar's margin, starting at the padding.
    int whiteAbove = 0, whiteIn = 0;
    for (int y = yellow->y + yellow->height; y < yellow->y + yellow->height + 60; ++y) {
      for (int x = red->x; x < red->x + 200; ++x) {
        if (!(pixels.At(x, y) == Rgb{255, 255, 255})) continue;
        (y < yellow->y + yellow->height + 20 ? whiteAbove : whiteIn)++;
      }
    }
    EXPECT_EQ(whiteAbove, 0) << "nothing in the margin";
    EXPECT_GT(whiteIn, 50) << "the paragraph draws";
  }

  // A click on the pressable runs onPress, which changes state: it turns green.
  ChildProcess click({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(blue->x + 50),
                      std::to_string(blue->y + 20), "click", "1"});
  EXPECT_EQ(click.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("pressed 1", kChangeTimeout)) << shell.output();
  std::optional<XRect> green;
  EXPECT_TRUE(WaitFor(
      [&] {
        WindowPixels pixels(display.get(), window);
        green = pixels.BoxOf({0, 255, 0});
        return green.has_value();
      },
      kChangeTimeout))
      << "the press redraws";
  if (green) {
    EXPECT_EQ(*green, *blue);
  }

  // Resizing re-lays out: the bar, half of the root's inner width, grows
  // with the window; the fixed-size box does not.
  auto barWidth = [&] {
    WindowPixels pixels(display.get(), window);
    const auto bar = pixels.BoxOf({255, 255, 0});
    return bar ? bar->width : -1;
  };
  const int before = barWidth();
  const auto geometry = probe_.Geometry(window);
  ASSERT_TRUE(geometry.has_value());
  ASSERT_TRUE(probe_.MoveResize(window, XRect{geometry->x, geometry->y, geometry->width + 200, geometry->height}));
  EXPECT_TRUE(WaitFor([&] { return barWidth() > before + 40; }, kChangeTimeout))
      << "bar " << before << " -> " << barWidth();
  WindowPixels resized(display.get(), window);
  const auto redAfter = resized.BoxOf({255, 0, 0});
  ASSERT_TRUE(redAfter.has_value());
  EXPECT_EQ(redAfter->width, 120);
  EXPECT_TRUE(shell.Running());
}

// A long list scrolls under the wheel: the bundle hears its layout and its
// scroll positions, the rows move up under the pointer, and a command from
// the bundle scrolls it to its end.
TEST_F(ShellDesktop, AListScrollsUnderTheWheelAndToItsEndOnCommand) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(SCROLL_APP_BUNDLE));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  ASSERT_NE(display, nullptr);
  ASSERT_TRUE(shell.WaitForOutput("list layout ", kStartTimeout)) << shell.output();

  std::optional<XRect> red, blue;
  ASSERT_TRUE(WaitFor(
      [&] {
        WindowPixels pixels(display.get(), window);
        red = pixels.BoxOf({255, 0, 0});
        blue = pixels.BoxOf({0, 0, 255});
        return red && blue;
      },
      kStartTimeout))
      << shell.output();
  EXPECT_EQ(red->height, 40) << "the first row, whole";
  const int listTop = red->y;

  // Three notches down over the list.
  ChildProcess wheel({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(red->x + 50),
                      std::to_string(red->y + 100), "click", "--repeat", "3", "--delay", "30", "5"});
  EXPECT_EQ(wheel.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("offset ", kChangeTimeout)) << shell.output();
  EXPECT_TRUE(WaitFor(
      [&] {
        WindowPixels pixels(display.get(), window);
        const auto now = pixels.BoxOf({255, 0, 0});
        return !now || now->height < 40;
      },
      kChangeTimeout))
      << "the first row moved up out of view";
  SaveScreenshot("scrolled_list.png");

  // The button scrolls to the end: the last row, green, is drawn at the
  // bottom of the list and the bundle hears the end position.
  EXPECT_EQ(ClickAt(window, blue->x + 50, blue->y + 15), 0);
  const std::optional<XRect> green = WaitForColour(display.get(), window, {0, 255, 0}, kChangeTimeout);
  EXPECT_TRUE(green.has_value());
  if (green) {
    EXPECT_EQ(green->height, 40);
    EXPECT_GT(green->y, listTop);
  }
  EXPECT_TRUE(shell.WaitForOutput("list at end", kChangeTimeout)) << shell.output();
  SaveScreenshot("list_at_end.png");

  // Home takes it back to the start, Page Down a page on (the pointer is
  // over the list; no text field has the focus).
  ChildProcess home({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(red->x + 50),
                     std::to_string(listTop + 100), "windowactivate", "--sync", std::to_string(window), "key", "Home"});
  EXPECT_EQ(home.Wait(10s), 0);
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto now = WindowPixels(display.get(), window).BoxOf({255, 0, 0});
        return now && now->y == listTop && now->height == 40;
      },
      kChangeTimeout))
      << "the first row is back where it was";
  EXPECT_TRUE(shell.WaitForOutput("offset 0", kChangeTimeout)) << shell.output();
  ChildProcess page({"xdotool", "key", "Next"});
  EXPECT_EQ(page.Wait(10s), 0);
  EXPECT_TRUE(WaitFor([&] { return !WindowPixels(display.get(), window).BoxOf({255, 0, 0}); }, kChangeTimeout))
      << "a page down leaves the first row above the list";

  // Presses on the scrollbar's track below the thumb page on to the end.
  if (green) {
    const int stripX = red->x + red->width - 4;
    const int trackBottom = green->y + green->height - 6;
    for (int i = 0; i < 3; ++i) {
      ChildProcess track({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(stripX),
                          std::to_string(trackBottom), "click", "1"});
      EXPECT_EQ(track.Wait(10s), 0);
      std::this_thread::sleep_for(300ms);  // the page's animation
    }
    EXPECT_TRUE(WaitFor([&] { return WindowPixels(display.get(), window).BoxOf({0, 255, 0}).has_value(); },
                        kChangeTimeout))
        << "the last row is in view again";
  }
  EXPECT_TRUE(shell.Running());
}

// A chat screen of React Native's own FlatList (inverted, 10,000 messages,
// built by Metro): the wheel over it brings older messages into view (the
// list renders them as it scrolls) and its scroll command brings it back.
TEST_F(ShellDesktop, AnInvertedFlatListOfTenThousandMessagesScrollsToOlderOnesAndBack) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(CHAT_APP_BUNDLE));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  ASSERT_NE(display, nullptr);
  ASSERT_TRUE(shell.WaitForOutput("viewable 0-", kStartTimeout)) << shell.output();
  const std::optional<XRect> composer = WaitForColour(display.get(), window, {0, 0, 255}, kStartTimeout);
  ASSERT_TRUE(composer.has_value());
  SaveScreenshot("chat_newest.png");

  // Wheel up over the messages: older ones (drawn above) come into view.
  ChildProcess wheel({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(composer->x + 100),
                      std::to_string(composer->y - 200), "click", "--repeat", "15", "--delay", "20", "4"});
  EXPECT_EQ(wheel.Wait(20s), 0);
  EXPECT_TRUE(shell.WaitForOutput("older messages shown", kChangeTimeout)) << shell.output();
  SaveScreenshot("chat_older.png");

  // The composer's button scrolls the list back to the newest message.
  EXPECT_EQ(ClickAt(window, composer->x + 40, composer->y + 20), 0);
  EXPECT_TRUE(shell.WaitForOutput("back at the newest", kChangeTimeout)) << shell.output();

  // The composer: React Native's TextInput on a native field. Typed text
  // reaches onChangeText, Enter submits it, and the bundle's clearing of
  // its value empties the field.
  const std::optional<XRect> input = WaitForColour(display.get(), window, {255, 255, 0}, kChangeTimeout);
  ASSERT_TRUE(input.has_value());
  EXPECT_GE(input->height, 16 + 16) << "measured: a line of 16 px text and its padding";
  ChildProcess type({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(input->x + 30),
                     std::to_string(input->y + input->height / 2), "click", "1", "sleep", "0.3", "type", "--delay",
                     "30", "hello"});
  EXPECT_EQ(type.Wait(20s), 0);
  EXPECT_TRUE(shell.WaitForOutput("draft hello", kChangeTimeout)) << shell.output();
  SaveScreenshot("chat_typing.png");
  ChildProcess enter({"xdotool", "key", "Return"});
  EXPECT_EQ(enter.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("sent hello", kChangeTimeout)) << shell.output();
  ChildProcess more({"xdotool", "sleep", "0.3", "type", "x"});
  EXPECT_EQ(more.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("draft x", kChangeTimeout)) << "the field was emptied after sending\n"
                                                             << shell.output();
  EXPECT_TRUE(shell.Running());
}

// Three text inputs: a click focuses the first, Tab moves the focus down
// through the others and Shift+Tab back; typed text reaches the focused one.
TEST_F(ShellDesktop, TabMovesTheFocusThroughTextInputsInTheirOrder) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(FORM_APP_BUNDLE));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  ASSERT_NE(display, nullptr);
  const std::optional<XRect> first = WaitForColour(display.get(), window, {255, 0, 0}, kStartTimeout);
  ASSERT_TRUE(first.has_value()) << shell.output();
  EXPECT_EQ(ClickAt(window, first->x + 40, first->y + first->height / 2), 0);
  EXPECT_TRUE(shell.WaitForOutput("focus first", kChangeTimeout)) << shell.output();
  ChildProcess tab({"xdotool", "sleep", "0.2", "key", "Tab", "sleep", "0.2", "type", "ab"});
  EXPECT_EQ(tab.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("focus second", kChangeTimeout)) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("change second ab", kChangeTimeout)) << shell.output();
  ChildProcess tab2({"xdotool", "key", "Tab"});
  EXPECT_EQ(tab2.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("focus third", kChangeTimeout)) << shell.output();
  SaveScreenshot("form_tab.png");
  ChildProcess back({"xdotool", "key", "shift+Tab", "sleep", "0.2", "type", "cd"});
  EXPECT_EQ(back.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("blur third", kChangeTimeout)) << shell.output();
  // Focus that arrives by the keyboard selects the field's text, as pages
  // do: the typing replaces it.
  EXPECT_TRUE(shell.WaitForOutput("change second cd", kChangeTimeout)) << "back in the second input\n"
                                                                      << shell.output();

  // The composer grows a line with each Shift+Enter and sends on Enter.
  const std::optional<XRect> composer = WaitForColour(display.get(), window, {255, 255, 0}, kChangeTimeout);
  ASSERT_TRUE(composer.has_value());
  const int oneLine = composer->height;
  ChildProcess into({"xdotool", "key", "Tab", "sleep", "0.1", "key", "Tab"});  // second -> third -> composer
  EXPECT_EQ(into.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("focus composer", kChangeTimeout)) << shell.output();
  for (const char* step : {"a", "shift+Return", "b", "shift+Return", "c"}) {
    const bool text = std::string(step).size() == 1;
    ChildProcess key({"xdotool", text ? "type" : "key", step});
    EXPECT_EQ(key.Wait(10s), 0);
  }
  EXPECT_TRUE(shell.WaitForOutput("composer lines 3", kChangeTimeout)) << shell.output();
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto now = WindowPixels(display.get(), window).BoxOf({255, 255, 0});
        return now && now->height > oneLine + 20;
      },
      kChangeTimeout))
      << "three lines are taller than one";
  SaveScreenshot("form_composer.png");
  ChildProcess send({"xdotool", "key", "Return"});
  EXPECT_EQ(send.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("composer sent \"a\\nb\\nc\"", kChangeTimeout)) << shell.output();
  EXPECT_TRUE(shell.Running());
}

// On a screen scaled twice (GDK_SCALE=2) every logical pixel of the layout
// is two device pixels, and a click still lands on the view under it.
TEST_F(ShellDesktop, AtTwiceTheScaleAReactAppDrawsEveryLogicalPixelAsTwo) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(RENDER_APP_BUNDLE));
  ChildProcess shell({program}, WithVariables(environment_, {{"GDK_SCALE", "2"}}));
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  ASSERT_NE(display, nullptr);
  std::optional<XRect> red, blue;
  ASSERT_TRUE(WaitFor(
      [&] {
        WindowPixels pixels(display.get(), window);
        red = pixels.BoxOf({255, 0, 0});
        blue = pixels.BoxOf({0, 0, 255});
        return red && blue;
      },
      kStartTimeout))
      << shell.output();
  SaveScreenshot("render_app_scale2.png");
  EXPECT_EQ(red->width, 240);
  EXPECT_EQ(red->height, 120);
  EXPECT_EQ(blue->width, 200);
  EXPECT_EQ(blue->height, 80);
  EXPECT_EQ(blue->y, red->y + 120 + 40);

  ChildProcess click({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(blue->x + 100),
                      std::to_string(blue->y + 40), "click", "1"});
  EXPECT_EQ(click.Wait(10s), 0);
  EXPECT_TRUE(shell.WaitForOutput("pressed 1", kChangeTimeout)) << shell.output();
}

// Embed views in a React app: two load on one shared profile, a bad id is
// reported, a new id after loading changes nothing, and the profile is
// gone once the shell has ended.
TEST_F(ShellDesktop, EmbedViewsLoadOnOneProfileAndLeaveNothingBehind) {
  namespace fs = std::filesystem;
  if (!fs::exists(fs::path(TALVEK_PATH).parent_path() / "libtalvek-webkit.so")) {
    GTEST_SKIP() << "built without the web engine library (webkit2gtk-4.1)";
  }
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(EMBED_APP_BUNDLE));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("embed third failed bad-id", kStartTimeout)) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("embed first ready", kStartTimeout)) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("embed second ready", kStartTimeout)) << shell.output();
  std::this_thread::sleep_for(kSettle);  // the first view's new id has come and gone
  SaveScreenshot("embed_views.png");

  const fs::path profiles = home_.Join("data") + "/TALVEK/embed-tmp";
  std::vector<fs::path> live;
  for (const auto& entry : fs::directory_iterator(profiles)) live.push_back(entry.path());
  ASSERT_EQ(live.size(), 1u) << "one profile for every view";
  EXPECT_TRUE(fs::is_directory(live[0] / "wv2"));
  EXPECT_TRUE(fs::exists(live[0] / ".alive"));

  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0) << shell.output();
  const std::string output = shell.output();
  size_t readies = 0;
  for (size_t at = output.find("embed first ready"); at != std::string::npos; at = output.find("embed first ready", at + 1)) {
    ++readies;
  }
  EXPECT_EQ(readies, 1u) << "a new id after loading is not loaded";
  EXPECT_FALSE(fs::exists(live[0])) << "the profile is purged at exit";
  // Nothing of the web engine's outside the profile.
  for (const char* folder : {"home", "cache", "data", "config", "state"}) {
    for (const auto& entry : fs::recursive_directory_iterator(home_.Join(folder))) {
      EXPECT_EQ(entry.path().string().find("webkit"), std::string::npos) << entry.path();
    }
  }
}

// Without the web engine library beside it the shell still runs; its
// embed views say that no engine is installed.
TEST_F(ShellDesktop, WithoutTheWebEngineEmbedViewsFallBack) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, ReadBundle(EMBED_APP_BUNDLE), false);
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  ASSERT_NE(ShownWindow(shell.pid()), 0u) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("embed first fallback runtime-missing", kStartTimeout)) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("embed second fallback runtime-missing", kChangeTimeout)) << shell.output();
  EXPECT_TRUE(shell.WaitForOutput("embed third failed bad-id", kChangeTimeout)) << shell.output();
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0) << shell.output();
}

// Runs a desktop tool (xdotool, convert) to its end; its exit code.
int RunTool(std::vector<std::string> argv) {
  ChildProcess tool(std::move(argv));
  return tool.Wait(10s);
}

// A bundle that reports the attachment events and answers a paste by
// reading the clipboard (at most two items).
std::string AttachBundle(bool enableDrops) {
  return std::string(R"(
const attach = globalThis.__turboModuleProxy('Attach');
RCTDeviceEventEmitter.addListener('Attach.dropHover', (e) => console.log('hover ' + e.over));
RCTDeviceEventEmitter.addListener('Attach.drop', (e) => console.log('drop ' + JSON.stringify(e.paths)));
RCTDeviceEventEmitter.addListener('Attach.paste', async () => {
  console.log('paste');
  const result = await attach.readClipboard(2);
  console.log('clipboard ' + JSON.stringify(result.items.map((item) => item.name || item.error)));
});
AppRegistry.registerComponent('VirelantDesktop', () => () => {
)") + (enableDrops ? "  attach.setDropEnabled(true);\n" : "") + R"(  console.log('ready');
});
)";
}

class AttachDesktop : public ShellDesktop {
 protected:
  // Drags from a helper window's button onto the middle of `window`, or
  // onto `at` (window coordinates).
  void Drag(XWindowId window, const std::vector<std::string>& args,
            std::optional<std::pair<int, int>> at = std::nullopt) {
    ChildProcess source([&] {
      std::vector<std::string> argv{DRAG_SOURCE_PATH};
      argv.insert(argv.end(), args.begin(), args.end());
      return argv;
    }(), environment_);
    ASSERT_TRUE(source.WaitForOutput("ready ", kStartTimeout)) << source.output();
    std::istringstream ready(source.output().substr(source.output().find("ready ") + 6));
    int fromX = 0, fromY = 0;
    ready >> fromX >> fromY;
    const auto rect = probe_.Geometry(window);
    ASSERT_TRUE(rect.has_value());
    const int toX = rect->x + (at ? at->first : rect->width / 2), toY = rect->y + (at ? at->second : rect->height / 2);
    EXPECT_EQ(RunTool({"xdotool", "mousemove", "--sync", std::to_string(fromX), std::to_string(fromY)}), 0);
    EXPECT_EQ(RunTool({"xdotool", "mousedown", "1"}), 0);
    for (int step = 1; step <= 10; ++step) {
      const int x = fromX + (toX - fromX) * step / 10, y = fromY + (toY - fromY) * step / 10;
      EXPECT_EQ(RunTool({"xdotool", "mousemove", std::to_string(x), std::to_string(y)}), 0);
      std::this_thread::sleep_for(60ms);
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(RunTool({"xdotool", "mouseup", "1"}), 0);
    EXPECT_TRUE(source.WaitForOutput("done", kChangeTimeout)) << source.output();
    source.Signal(SIGTERM);
    source.Wait(5s);
  }
};

TEST_F(AttachDesktop, FilesDraggedOntoTheWindowAreReportedInOrderAndTextIsNot) {
  TempDir installed, files;
  const std::string program = InstallShellWithBundle(installed, AttachBundle(true));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("ready", kStartTimeout)) << shell.output();

  const std::string a = files.Join("a b.txt"), b = files.Join("b.txt");
  Drag(window, {"file://" + files.path() + "/a%20b.txt", "https://example.com/not-a-file", "file://" + b});
  ASSERT_TRUE(shell.WaitForOutput("drop ", kChangeTimeout)) << shell.output();
  const std::string output = shell.output();
  // The hover ends as the drop lands, before the paths are reported.
  const size_t on = output.find("hover true"), off = output.find("hover false"), drop = output.find("drop ");
  ASSERT_NE(on, std::string::npos) << output;
  ASSERT_NE(off, std::string::npos) << output;
  EXPECT_LT(on, off);
  EXPECT_LT(off, drop);
  EXPECT_NE(output.find("drop [\"" + a + "\",\"" + b + "\"]"), std::string::npos) << output;
  EXPECT_EQ(output.find("hover true", on + 1), std::string::npos) << "one hover for one drag";

  // Text is refused without a word.
  Drag(window, {"--text"});
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(shell.output().find("hover true", on + 1), std::string::npos) << shell.output();
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

TEST_F(AttachDesktop, UntilDropsAreEnabledFilesAreRefused) {
  TempDir installed;
  const std::string program = InstallShellWithBundle(installed, AttachBundle(false));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("ready", kStartTimeout)) << shell.output();
  Drag(window, {"file:///tmp/x.txt"});
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(shell.output().find("hover"), std::string::npos) << shell.output();
  EXPECT_EQ(shell.output().find("drop"), std::string::npos) << shell.output();
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

TEST_F(AttachDesktop, PastingFilesOrAnImageIsAnnouncedAndReadTextIsLeftToThePage) {
  TempDir installed, files;
  const std::string program = InstallShellWithBundle(installed, AttachBundle(true));
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("ready", kStartTimeout)) << shell.output();
  // xclip keeps serving the clipboard in the background until replaced.
  auto offer = [&](const std::string& type, const std::string& file) {
    return std::system(("xclip -selection clipboard -t " + type + " -i '" + file + "'").c_str());
  };
  auto paste = [&] {
    EXPECT_EQ(RunTool({"xdotool", "windowactivate", "--sync", std::to_string(window)}), 0);
    EXPECT_EQ(RunTool({"xdotool", "key", "--clearmodifiers", "ctrl+v"}), 0);
  };

  // An image: staged as image.png.
  const std::string png = files.Join("shot.png");
  ASSERT_EQ(RunTool({"convert", "-size", "40x30", "xc:#3366cc", png}), 0);
  ASSERT_EQ(offer("image/png", png), 0);
  paste();
  EXPECT_TRUE(shell.WaitForOutput("clipboard [\"image.png\"]", kChangeTimeout)) << shell.output();

  // Three files: the first two.
  std::string list;
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
    WriteTextFile(files.Join(name), name);
    list += "file://" + files.Join(name) + "\r\n";
  }
  WriteTextFile(files.Join("list"), list);
  ASSERT_EQ(offer("text/uri-list", files.Join("list")), 0);
  paste();
  EXPECT_TRUE(shell.WaitForOutput("clipboard [\"one.txt\",\"two.txt\"]", kChangeTimeout)) << shell.output();

  // Text: no announcement at all.
  WriteTextFile(files.Join("words"), "some words");
  ASSERT_EQ(offer("UTF8_STRING", files.Join("words")), 0);
  std::string before = shell.output();
  paste();
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(shell.output(), before);

  // Text and an image at once: the page pastes the text, nothing is announced.
  {
    ChildProcess owner({CLIPBOARD_OWNER_PATH, "text-and-image"}, environment_);
    ASSERT_TRUE(owner.WaitForOutput("owning", kStartTimeout)) << owner.output();
    before = shell.output();
    paste();
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(shell.output(), before);
    owner.Signal(SIGTERM);
    owner.Wait(5s);
  }

  // An owner that never answers: the paste is announced (an image is
  // offered), the read gives up in time and says so; the shell lives on.
  {
    ChildProcess owner({CLIPBOARD_OWNER_PATH, "silent"}, environment_);
    ASSERT_TRUE(owner.WaitForOutput("owning", kStartTimeout)) << owner.output();
    paste();
    EXPECT_TRUE(shell.WaitForOutput("clipboard [\"copy_failed\"]", 10s)) << shell.output();
    EXPECT_TRUE(shell.Running());
    owner.Signal(SIGKILL);
    owner.Wait(5s);
  }
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

// Files dropped on an embed view stay with the web view; next to it they
// are the shell's.
TEST_F(AttachDesktop, DropsOnAnEmbedViewAreLeftToIt) {
  namespace fs = std::filesystem;
  if (!fs::exists(fs::path(TALVEK_PATH).parent_path() / "libtalvek-webkit.so")) {
    GTEST_SKIP() << "built without the web engine library (webkit2gtk-4.1)";
  }
  TempDir installed;
  const std::string bundle = R"(
const attach = globalThis.__turboModuleProxy('Attach');
attach.setDropEnabled(true);
RCTDeviceEventEmitter.addListener('Attach.drop', (e) => console.log('attach drop ' + JSON.stringify(e.paths)));
)" + ReadBundle(EMBED_APP_BUNDLE);
  const std::string program = InstallShellWithBundle(installed, bundle);
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("embed first ready", kStartTimeout)) << shell.output();
  // The first view: 320 x 180 at the root's padding of 20.
  Drag(window, {"file:///tmp/on-the-view.txt"}, std::make_pair(180, 110));
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(shell.output().find("attach drop"), std::string::npos) << shell.output();
  const auto rect = probe_.Geometry(window);
  ASSERT_TRUE(rect.has_value());
  Drag(window, {"file:///tmp/beside-it.txt"}, std::make_pair(rect->width / 2, rect->height - 40));
  EXPECT_TRUE(shell.WaitForOutput("attach drop [\"/tmp/beside-it.txt\"]", kChangeTimeout)) << shell.output();
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

// "pickFiles" through the real chooser: a typed path is staged, Escape
// answers with nothing.
TEST_F(AttachDesktop, FilesPickedInTheChooserAreStagedAndCancellingGivesNone) {
  TempDir installed, files;
  WriteTextFile(files.Join("report.txt"), "a report");
  const std::string program = InstallShellWithBundle(installed, R"(
const attach = globalThis.__turboModuleProxy('Attach');
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  for (let round = 1; round <= 2; ++round) {
    console.log('asking ' + round);
    const items = await attach.pickFiles('file', true, 5, 'Every file');
    console.log('picked ' + JSON.stringify(items.map((item) => item.name || item.error)));
  }
});
)");
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("asking 1", kStartTimeout)) << shell.output();
  // The chooser: the shell's window titled "Open".
  XWindowId chooser = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (XWindowId client : probe_.FindClients("Open", shell.pid())) {
          if (probe_.Viewable(client)) chooser = client;
        }
        return chooser != 0;
      },
      kStartTimeout))
      << "no chooser";
  std::this_thread::sleep_for(kSettle);
  SaveScreenshot("file_picker.png");
  EXPECT_EQ(RunTool({"xdotool", "windowactivate", "--sync", std::to_string(chooser)}), 0);
  EXPECT_EQ(RunTool({"xdotool", "key", "ctrl+l"}), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(RunTool({"xdotool", "type", "--delay", "5", files.Join("report.txt")}), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(RunTool({"xdotool", "key", "Return"}), 0);
  EXPECT_TRUE(shell.WaitForOutput("picked [\"report.txt\"]", kChangeTimeout)) << shell.output();

  ASSERT_TRUE(shell.WaitForOutput("asking 2", kChangeTimeout)) << shell.output();
  const bool cancelled = WaitFor(
      [&] {
        ChildProcess key({"xdotool", "key", "Escape"});
        key.Wait(5s);
        return shell.WaitForOutput("picked []", 300ms);
      },
      kStartTimeout);
  EXPECT_TRUE(cancelled) << shell.output();
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

// "share" through the real sheet: picked with the keyboard, "Copy" leaves
// the text on the clipboard and completes the request; Escape dismisses.
TEST_F(ShellDesktop, TheShareSheetCopiesWhatIsSharedAndEscapeDismissesIt) {
  TempDir installed, bin;
  // A stand-in for xdg-email puts "Email" first, so "Copy" is one step down.
  WriteTextFile(bin.Join("xdg-email"), "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(bin.Join("xdg-email"), std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  environment_ = WithVariables(environment_, {{"PATH", bin.path() + ":" + (path != nullptr ? path : "")}});
  const std::string program = InstallShellWithBundle(installed, R"(
const share = globalThis.__turboModuleProxy('Share');
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  for (let round = 1; round <= 2; ++round) {
    console.log('sharing ' + round);
    try {
      const result = await share.share({ text: 'shared words ' + round, anchor: { x: 1, y: 2, width: 3, height: 4 } });
      console.log('shared ' + round + ' ' + JSON.stringify(result));
    } catch (e) {
      console.log('share rejects ' + e.code);
    }
  }
});
)");
  ChildProcess shell({program}, environment_);
  ASSERT_TRUE(shell.started());
  const XWindowId window = ShownWindow(shell.pid());
  ASSERT_NE(window, 0u) << shell.output();

  auto sheetOf = [&](int round) {
    XWindowId sheet = 0;
    EXPECT_TRUE(shell.WaitForOutput("sharing " + std::to_string(round), kStartTimeout)) << shell.output();
    WaitFor(
        [&] {
          for (XWindowId client : probe_.FindClients("Share", shell.pid())) {
            if (probe_.Viewable(client)) sheet = client;
          }
          return sheet != 0;
        },
        kStartTimeout);
    return sheet;
  };

  const XWindowId sheet = sheetOf(1);
  ASSERT_NE(sheet, 0u) << "no sheet: " << shell.output();
  std::this_thread::sleep_for(kSettle);
  SaveScreenshot("share_sheet.png");
  // Centred over the main window.
  const auto main = probe_.Geometry(window), over = probe_.Geometry(sheet);
  ASSERT_TRUE(main && over);
  EXPECT_NEAR(over->x + over->width / 2, main->x + main->width / 2, 40);
  EXPECT_NEAR(over->y + over->height / 2, main->y + main->height / 2, 60);

  EXPECT_EQ(RunTool({"xdotool", "windowactivate", "--sync", std::to_string(sheet)}), 0);
  EXPECT_EQ(RunTool({"xdotool", "key", "--clearmodifiers", "Down"}), 0);
  EXPECT_EQ(RunTool({"xdotool", "key", "--clearmodifiers", "Return"}), 0);
  EXPECT_TRUE(shell.WaitForOutput("shared 1 {\"completed\":true}", kChangeTimeout)) << shell.output();
  {
    ChildProcess paste({"xclip", "-selection", "clipboard", "-o"}, environment_);
    EXPECT_TRUE(paste.WaitForOutput("shared words 1", kChangeTimeout)) << paste.output();
    EXPECT_EQ(paste.Wait(10s), 0);
  }

  const XWindowId second = sheetOf(2);
  ASSERT_NE(second, 0u) << shell.output();
  EXPECT_EQ(RunTool({"xdotool", "windowactivate", "--sync", std::to_string(second)}), 0);
  EXPECT_EQ(RunTool({"xdotool", "key", "--clearmodifiers", "Escape"}), 0);
  EXPECT_TRUE(shell.WaitForOutput("shared 2 {\"completed\":false}", kChangeTimeout)) << shell.output();
  EXPECT_TRUE(WaitFor([&] { return !probe_.Viewable(second); }, kChangeTimeout)) << "the sheet went";
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

TEST_F(ShellDesktop, TheDemoAppDrawsItsModuleList) {
  auto shell = StartShell();
  const XWindowId window = ShownWindow(shell->pid());
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(shell->WaitForOutput("demo bundle done", kStartTimeout)) << shell->output();
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  ASSERT_NE(display, nullptr);
  // The buttons' blue, #2d6cdf.
  std::optional<XRect> buttons;
  ASSERT_TRUE(WaitFor(
      [&] {
        buttons = WindowPixels(display.get(), window).BoxOf({0x2d, 0x6c, 0xdf});
        return buttons.has_value();
      },
      kChangeTimeout));
  SaveScreenshot("demo_app.png");
  // A click on the first button's label (text inside a Pressable) presses
  // the button: the touch bubbles from the text to it.
  ChildProcess click({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(buttons->x + 40),
                      std::to_string(buttons->y + buttons->height / 2), "click", "1"});
  EXPECT_EQ(click.Wait(10s), 0);
  EXPECT_TRUE(shell->WaitForOutput("visits 2", kChangeTimeout)) << shell->output();
}

}  // namespace
}  // namespace VirelantDesktop::testing
