#include "app/window/window_metrics.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace VirelantDesktop::window {

int MulDiv(int number, int numerator, int denominator) noexcept {
  if (denominator == 0) return -1;
  const int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t quotient = product / denominator;
  const int64_t remainder = product % denominator;
  // Round half away from zero: compare twice the remainder with the divisor.
  if (2 * (remainder < 0 ? -remainder : remainder) >= (denominator < 0 ? -static_cast<int64_t>(denominator) : denominator)) {
    quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
  }
  if (quotient > INT_MAX || quotient < INT_MIN) return -1;
  return static_cast<int>(quotient);
}

Size Scale(Size logical, int dpi) noexcept {
  return {MulDiv(logical.width, dpi, kBaseDpi), MulDiv(logical.height, dpi, kBaseDpi)};
}

int Unscale(int physical, int dpi) noexcept { return MulDiv(physical, kBaseDpi, dpi); }

int WorkAreaHeightCap(int workHeight) noexcept { return workHeight * kWorkAreaSharePercent / 100; }

Size InitialClientSize(int dpi, std::optional<Size> workArea) noexcept {
  Size size = Scale(kDefaultClient, dpi);
  if (!workArea) return size;
  const int cap = WorkAreaHeightCap(workArea->height);
  if (size.height > cap) size.height = std::max(cap, MulDiv(kMinFitClientHeight, dpi, kBaseDpi));
  size.width = std::min(size.width, workArea->width);
  return size;
}

std::optional<Rect> ClampToWorkArea(Rect window, Rect workArea, Size minimumWindow) noexcept {
  Rect clamped = window;
  if (clamped.height > workArea.height) clamped.height = std::max(workArea.height, minimumWindow.height);
  if (clamped.width > workArea.width) clamped.width = std::max(workArea.width, minimumWindow.width);
  if (clamped.y + clamped.height > workArea.y + workArea.height) clamped.y = workArea.y + workArea.height - clamped.height;
  if (clamped.y < workArea.y) clamped.y = workArea.y;
  if (clamped.x + clamped.width > workArea.x + workArea.width) clamped.x = workArea.x + workArea.width - clamped.width;
  if (clamped.x < workArea.x) clamped.x = workArea.x;
  if (clamped == window) return std::nullopt;
  return clamped;
}

Rect CentredIn(Size size, Rect workArea) noexcept {
  const auto along = [](int start, int room, int length) {
    return length <= room ? start + (room - length) / 2 : start;
  };
  return {along(workArea.x, workArea.width, size.width), along(workArea.y, workArea.height, size.height), size.width,
          size.height};
}

int FitFixedClientHeight(int targetLogicalHeight, int windowHeight, int workHeight, int dpi) noexcept {
  const int cap = WorkAreaHeightCap(workHeight);
  if (windowHeight <= cap) return targetLogicalHeight;
  const int excess = windowHeight - cap;
  return std::max(targetLogicalHeight - MulDiv(excess, kBaseDpi, dpi), kMinFitClientHeight);
}

Size RestoredClientSize(std::optional<Size> savedLogical) noexcept {
  if (!savedLogical || savedLogical->width < 1 || savedLogical->height <= 0) return kDefaultClient;
  return {std::clamp(savedLogical->width, kMinClient.width, kMaxClientWidth), savedLogical->height};
}

}  // namespace VirelantDesktop::window
