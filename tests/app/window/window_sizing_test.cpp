#include "app/window/window_sizing.h"

#include <gtest/gtest.h>

#include "app/window/title_bar.h"
#include "platform/headless_window.h"

namespace VirelantDesktop::window {
namespace {

using platform::HeadlessWindow;
using platform::PixelRect;

// A window with a 16 x 40 frame on a 1920 x `workHeight` work area at 96 DPI.
class WindowSizingTest : public ::testing::Test {
 protected:
  void SetUpWindow(int workHeight, int dpi = 96) {
    window_.SetFrameExtra({16, 40});
    window_.SetDpi(dpi);
    window_.SetWorkArea(PixelRect{0, 0, 1920, workHeight});
  }
  Size Client() const { return *window_.ClientSize(); }

  // As the shell window wires it: a move or resize reaches the sizing.
  static platform::MainWindowEvents Events(WindowSizing* const& sizing) {
    platform::MainWindowEvents events;
    events.geometryChanged = [&sizing] { sizing->OnGeometryChanged(); };
    return events;
  }

  WindowSizing* sizingRef_ = &sizing_;
  HeadlessWindow window_{Events(sizingRef_)};
  WindowSizing sizing_{window_};
};

TEST_F(WindowSizingTest, InitialSizeScalesAndFitsTheWorkArea) {
  SetUpWindow(2000, 144);
  sizing_.ApplyInitialSize();
  EXPECT_EQ(Client(), (Size{645, 1398}));

  SetUpWindow(1040, 144);
  sizing_.ApplyInitialSize();
  EXPECT_EQ(Client(), (Size{645, 988}));
  EXPECT_EQ(window_.WindowRect()->y, 0) << "pulled into the work area";
  EXPECT_LE(window_.WindowRect()->y + window_.WindowRect()->height, 1040);
}

TEST_F(WindowSizingTest, EnteringFixedSizeFitsNinetyFivePercentOfTheWorkArea) {
  SetUpWindow(1000);
  sizing_.ApplyResizable(false, nullptr);
  EXPECT_TRUE(sizing_.IsFixedSize());
  EXPECT_EQ(sizing_.FixedClientHeight(), 950 - 40) << "950 minus the frame's extra height";
  EXPECT_EQ(Client(), (Size{430, 910}));
  EXPECT_FALSE(window_.IsResizable());
  const auto limits = *window_.Limits();
  EXPECT_EQ(limits.minimum, (Size{446, 950}));
  EXPECT_EQ(limits.maximumWidth, 446);
  EXPECT_EQ(limits.maximumHeight, 950);
}

TEST_F(WindowSizingTest, FixedHeightNeverGoesBelow640) {
  SetUpWindow(600);
  sizing_.ApplyResizable(false, nullptr);
  EXPECT_EQ(sizing_.FixedClientHeight(), 640);
}

TEST_F(WindowSizingTest, LeavingFixedSizeRestoresTheSavedSizeWithinWidthLimits) {
  SetUpWindow(2000);
  window_.ResizeClient({700, 800});
  sizing_.ApplyResizable(false, nullptr);
  EXPECT_EQ(sizing_.SavedLogicalClient(), (Size{700, 800}));
  sizing_.ApplyResizable(true, nullptr);
  EXPECT_EQ(Client(), (Size{560, 800}));

  window_.ResizeClient({200, 700});
  sizing_.ApplyResizable(false, nullptr);
  sizing_.ApplyResizable(true, nullptr);
  EXPECT_EQ(Client(), (Size{360, 700}));
}

TEST_F(WindowSizingTest, LeavingWithoutASavedSizeGivesTheDefault) {
  SetUpWindow(2000);
  window_.SetMinimized(true);  // nothing measurable, no frame saved before
  sizing_.ApplyResizable(false, nullptr);
  EXPECT_FALSE(window_.IsMinimized()) << "restored on entering";
  EXPECT_FALSE(sizing_.SavedLogicalClient());
  sizing_.ApplyResizable(true, nullptr);
  EXPECT_EQ(Client(), (Size{430, 932}));
}

TEST_F(WindowSizingTest, EnteringWhileMaximisedSavesTheNormalSize) {
  SetUpWindow(2000);
  window_.ResizeClient({500, 900});
  sizing_.ApplyResizable(false, nullptr);  // measures the frame
  sizing_.ApplyResizable(true, nullptr);
  window_.ResizeClient({520, 880});
  window_.SetMaximized(true);
  sizing_.ApplyResizable(false, nullptr);
  EXPECT_FALSE(window_.IsMaximized());
  EXPECT_EQ(sizing_.SavedLogicalClient(), (Size{520, 880}));
}

TEST_F(WindowSizingTest, SameModeTwiceDoesNothingAndMaximiseIsUndoneWhenFixed) {
  SetUpWindow(2000);
  int reapplied = 0;
  sizing_.ApplyResizable(true, [&] { ++reapplied; });
  EXPECT_EQ(reapplied, 0);
  sizing_.ApplyResizable(false, [&] { ++reapplied; });
  sizing_.ApplyResizable(false, [&] { ++reapplied; });
  EXPECT_EQ(reapplied, 1);
  window_.SetMaximized(true);
  sizing_.OnStateChanged(false, true);
  EXPECT_FALSE(window_.IsMaximized());
}

TEST_F(WindowSizingTest, LimitsFollowTheModeAndTheDpi) {
  SetUpWindow(2000);
  auto limits = sizing_.Limits();
  EXPECT_EQ(limits.minimum, (Size{376, 680}));
  EXPECT_EQ(limits.maximumWidth, 576);
  EXPECT_FALSE(limits.maximumHeight);

  sizing_.ApplyResizable(false, nullptr);
  window_.SetDpi(192);
  limits = sizing_.Limits();
  EXPECT_EQ(limits.minimum, (Size{876, 1904})) << "recomputed for the new DPI";
}

TEST_F(WindowSizingTest, ClampMovesTheWindowIntoTheWorkAreaUnlessMaximised) {
  SetUpWindow(1000);
  window_.SetWindowRect({1800, 900, 446, 972});
  window_.SetMaximized(true);
  sizing_.ClampToWorkArea();
  EXPECT_EQ(*window_.WindowRect(), (PixelRect{1800, 900, 446, 972}));
  window_.SetMaximized(false);
  sizing_.ClampToWorkArea();
  EXPECT_EQ(*window_.WindowRect(), (PixelRect{1474, 28, 446, 972}));
}

TEST_F(WindowSizingTest, ClampMovesOnlyTheEdgeThatOverflows) {
  SetUpWindow(1000);
  window_.SetWindowRect({700, 200, 446, 972});
  sizing_.ClampToWorkArea();
  EXPECT_EQ(*window_.WindowRect(), (PixelRect{700, 28, 446, 972})) << "the left edge stays";
  window_.SetWindowRect({1700, 10, 446, 972});
  sizing_.ClampToWorkArea();
  EXPECT_EQ(*window_.WindowRect(), (PixelRect{1474, 10, 446, 972})) << "the top edge stays";
}

// A window never shown has no place yet: where it goes is the window
// manager's choice, so the first size does not move it; once placed, it is
// clamped where it was put, only along the side that overflows.
TEST_F(WindowSizingTest, AWindowWithoutAPlaceIsOnlySizedAndClampedOncePlaced) {
  for (const int placedY : {0, 200}) {
    SCOPED_TRACE(placedY);
    HeadlessWindow window{Events(sizingRef_)};
    WindowSizing sizing(window);
    sizingRef_ = &sizing;
    window.SetFrameExtra({16, 40});
    window.SetWorkArea(PixelRect{0, 0, 1920, 768});
    window.SetWindowRect({5, 5, 100, 100});  // GTK's guess for a window never shown
    window.SetUnplaced();
    sizing.ApplyInitialSize();
    EXPECT_EQ(*window.WindowRect(), (PixelRect{5, 5, 446, 768})) << "fits, frame and all; not moved";

    window.Place(900, placedY);
    EXPECT_EQ(*window.WindowRect(), (PixelRect{900, 0, 446, 768})) << "the left edge where the window manager put it";
    window.Place(1800, 100);  // later moves are the user's: no clamp
    EXPECT_EQ(*window.WindowRect(), (PixelRect{1800, 100, 446, 768}));
  }
  sizingRef_ = &sizing_;
}

TEST_F(WindowSizingTest, AWindowTooLargeForTheWorkAreaOpensAcrossTheMiddleAtTheTop) {
  window_.SetFrameExtra({16, 40});
  window_.SetWorkArea(PixelRect{150, 20, 1130, 580});
  window_.SetWindowRect({5, 5, 100, 100});
  window_.SetUnplaced();
  sizing_.ApplyInitialSize();
  // Even its smallest (360 x 640 and the frame) is taller than 580.
  EXPECT_EQ(*window_.WindowRect(), (PixelRect{150 + (1130 - 446) / 2, 20, 446, 680}));
}

TEST(TitleBar, ColoursDragStripAndSupport) {
  EXPECT_EQ(CaptionColorsFor(true).hoverBackground, (platform::Argb{32, 255, 255, 255}));
  EXPECT_EQ(CaptionColorsFor(false).inactiveForeground, (platform::Argb{255, 120, 120, 120}));
  EXPECT_EQ(CaptionColorsFor(false).background.a, 0);
  EXPECT_EQ(DragStripRect(645, 10, 100, 144), (Rect{10, 0, 535, 48}));
  EXPECT_FALSE(DragStripRect(100, 50, 50, 96));

  HeadlessWindow plain{{}};
  TitleBar none(plain);
  EXPECT_FALSE(none.Apply());
  EXPECT_FALSE(plain.Colors());

  HeadlessWindow custom{{}};
  custom.SetCustomTitleBarSupported(true);
  TitleBar bar(custom);
  EXPECT_TRUE(bar.Apply());
  EXPECT_TRUE(custom.ExtendsIntoTitleBar());
  EXPECT_EQ(*custom.Colors(), CaptionColorsFor(true)) << "dark at first";
  bar.SetTheme(false);
  bar.UpdateDragStrip();
  EXPECT_EQ(*custom.Colors(), CaptionColorsFor(false));
  EXPECT_EQ(custom.DragStrip()->height, 32);
}

}  // namespace
}  // namespace VirelantDesktop::window
