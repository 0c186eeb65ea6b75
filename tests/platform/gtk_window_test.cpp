// The GTK window under a real X server and window manager
// (scripts/with-desktop.sh): the size rules reach the window manager as
// limits it enforces.
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "app/window/title_bar.h"
#include "app/window/window_sizing.h"
#include "platform/gtk_desktop.h"

namespace VirelantDesktop::platform {
namespace {

using window::Size;

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Lets the window manager and GTK settle, then reports the client size.
Size SettledClient(MainWindow& window) {
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
  return *window.ClientSize();
}

TEST(GtkWindow, FixedSizeHoldsAgainstResizeAndLeavingRestores) {
  if (InitGtk() != GtkStart::Ready) GTEST_SKIP() << "no display: run under scripts/with-desktop.sh";
  // As the shell does: limits follow every move and resize.
  window::WindowSizing* sizingRef = nullptr;
  MainWindowEvents events;
  events.geometryChanged = [&] {
    if (sizingRef != nullptr) sizingRef->PushLimits();
  };
  auto window = MakeGtkWindow(events);
  window::WindowSizing sizing(*window);
  sizingRef = &sizing;
  window::TitleBar titleBar(*window);
  window->SetTitle("TALVEK");
  ASSERT_TRUE(titleBar.Apply());
  sizing.SetCustomTitleBar(true);
  sizing.ApplyInitialSize();
  sizing.PushLimits();
  window->Show();
  ASSERT_TRUE(PumpUntil([&] { return window->IsVisible() && window->WindowRect()->height > 932; }));
  EXPECT_EQ(SettledClient(*window), (Size{430, 932}));
  window->ResizeClient({300, 300});
  EXPECT_EQ(SettledClient(*window), (Size{360, 640})) << "not below 360 x 640 from the start";

  // A wider window to come back to.
  window->ResizeClient({500, 900});
  ASSERT_EQ(SettledClient(*window), (Size{500, 900}));

  sizing.ApplyResizable(false, [&] { titleBar.Reapply(); });
  const Size fixed{430, sizing.FixedClientHeight()};
  EXPECT_EQ(SettledClient(*window), fixed);
  window->ResizeClient({700, 700});
  EXPECT_EQ(SettledClient(*window), fixed) << "the limits hold against a resize";

  sizing.ApplyResizable(true, [&] { titleBar.Reapply(); });
  EXPECT_EQ(SettledClient(*window), (Size{500, 900})) << "the size saved on entering comes back";
  window->ResizeClient({300, 300});
  const Size smallest = SettledClient(*window);
  EXPECT_EQ(smallest, (Size{360, 640})) << "resizable, but not below 360 x 640";

  window->Close();
  EXPECT_FALSE(window->IsVisible());
}

// Positions as the window manager sees them: a clamp that moves one edge
// leaves the other where it was (a client-side decorated window has an
// invisible border GTK leaves out of the positions it is given), and a
// window hidden and shown again is where it was.
TEST(GtkWindow, MovesKeepTheEdgesTheyDoNotMoveAndHidingKeepsThePlace) {
  if (InitGtk() != GtkStart::Ready) GTEST_SKIP() << "no display: run under scripts/with-desktop.sh";
  window::WindowSizing* sizingRef = nullptr;
  MainWindowEvents events;
  events.geometryChanged = [&] {
    if (sizingRef != nullptr) sizingRef->OnGeometryChanged();
  };
  auto window = MakeGtkWindow(events);
  window::WindowSizing sizing(*window);
  sizingRef = &sizing;
  window::TitleBar titleBar(*window);
  ASSERT_TRUE(titleBar.Apply());
  sizing.SetCustomTitleBar(true);
  sizing.ApplyInitialSize();
  EXPECT_FALSE(window->IsPlaced()) << "the window manager has not placed it yet";
  window->Show();
  ASSERT_TRUE(PumpUntil([&] { return window->IsPlaced() && window->IsVisible(); }));
  const PixelRect work = *window->WorkArea();
  const PixelRect first = *window->WindowRect();
  EXPECT_GT(first.height, window->ClientSize()->height) << "the title bar counts";

  // Half below the bottom of the work area: only the top edge moves up.
  window->SetWindowRect({work.x + 300, work.y + work.height / 2, first.width, first.height});
  ASSERT_TRUE(PumpUntil([&] { return window->WindowRect()->x == work.x + 300; })) << window->WindowRect()->x;
  sizing.ClampToWorkArea();
  ASSERT_TRUE(PumpUntil([&] {
    const PixelRect now = *window->WindowRect();
    return now.y + now.height == work.y + work.height || now.y == work.y;
  }));
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
  const PixelRect clamped = *window->WindowRect();
  EXPECT_EQ(clamped.x, work.x + 300) << "the left edge stays";

  window->Hide();
  ASSERT_TRUE(PumpUntil([&] { return !window->IsVisible(); }));
  PumpUntil([] { return false; }, std::chrono::milliseconds(200));
  window->ShowAndActivate();
  ASSERT_TRUE(PumpUntil([&] { return window->IsVisible() && *window->WindowRect() == clamped; }))
      << "shown again at " << window->WindowRect()->x << "," << window->WindowRect()->y << ", hidden at " << clamped.x
      << "," << clamped.y;
  window->Close();
}

}  // namespace
}  // namespace VirelantDesktop::platform
