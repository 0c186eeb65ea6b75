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

}  // namespace
}  // namespace VirelantDesktop::platform
