// Window size arithmetic of the main window: logical 96-DPI pixels scaled
// with MulDiv, the size limits, the work-area clamp and the fixed-size fit.
// Pure functions; the window logic supplies the measurements.
#pragma once

#include <optional>

#include "platform/main_window.h"

namespace VirelantDesktop::window {

using Size = platform::PixelSize;
using Rect = platform::PixelRect;

// Logical sizes (96 DPI).
inline constexpr Size kDefaultClient{430, 932};
inline constexpr Size kMinClient{360, 640};
inline constexpr int kMaxClientWidth = 560;
inline constexpr int kMinFitClientHeight = 640;
inline constexpr int kWorkAreaSharePercent = 95;
inline constexpr int kCaptionDragHeight = 32;
inline constexpr int kBaseDpi = 96;

// number * numerator / denominator with a 64-bit intermediate, rounded to the
// nearest integer, halves away from zero; -1 when the denominator is 0 or
// the result does not fit an int (the Win32 MulDiv contract).
int MulDiv(int number, int numerator, int denominator) noexcept;

// Logical -> physical pixels at `dpi`, and back.
Size Scale(Size logical, int dpi) noexcept;
int Unscale(int physical, int dpi) noexcept;

// The share of the work-area height a window may use (integer arithmetic).
int WorkAreaHeightCap(int workHeight) noexcept;

// The first client size: 430 x 932 scaled; on a known work area the height
// is cut to the 95 % cap (but not below 640 scaled) and the width to the
// work width.
Size InitialClientSize(int dpi, std::optional<Size> workArea) noexcept;

// The window size for a physical client size, given the frame: the window's
// size minus its client size, in physical pixels.
inline Size WindowSizeFor(Size physicalClient, Size frameExtra) noexcept {
  return {physicalClient.width + frameExtra.width, physicalClient.height + frameExtra.height};
}

// Moves and shrinks `window` into `workArea`: a dimension larger than the
// work area becomes the larger of the work area and `minimumWindow`; then the
// far edge is pulled in and the near edge pushed out. nullopt when nothing
// changes.
std::optional<Rect> ClampToWorkArea(Rect window, Rect workArea, Size minimumWindow) noexcept;

// A window of `size` in the middle of `workArea` along each side it fits;
// along a side it does not fit, its near edge on the work area's.
Rect CentredIn(Size size, Rect workArea) noexcept;

// Entering fixed-size mode: the fixed client height (logical) for a target
// height whose window height (physical) may exceed 95 % of the work area;
// the excess is taken off in logical pixels, never below 640.
int FitFixedClientHeight(int targetLogicalHeight, int windowHeight, int workHeight, int dpi) noexcept;

// Leaving fixed-size mode: the saved logical client size with its width kept
// within 360..560, or 430 x 932 when none was saved (width < 1 or height <= 0).
Size RestoredClientSize(std::optional<Size> savedLogical) noexcept;

}  // namespace VirelantDesktop::window
