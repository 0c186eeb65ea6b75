#include "modules/attach/orientation_transform.h"

#include <algorithm>
#include <cstring>

namespace VirelantDesktop::attach {

Bitmap ApplyOrientation(Bitmap bitmap, int orientation) {
  const int64_t w = bitmap.width, h = bitmap.height;
  if (orientation < 2 || orientation > 8 || w == 0 || h == 0 ||
      bitmap.bgra.size() != static_cast<size_t>(w * h * 4)) {
    return bitmap;
  }

  // The stored pixel (x, y) lands at pixel index start + x*stepX + y*stepY of
  // the upright picture (whose rows are h pixels long when the sides swap).
  int64_t start = 0, stepX = 1, stepY = w;
  switch (orientation) {
    case 2: start = w - 1;               stepX = -1; stepY = w;  break;
    case 3: start = (h - 1) * w + w - 1; stepX = -1; stepY = -w; break;
    case 4: start = (h - 1) * w;         stepX = 1;  stepY = -w; break;
    case 5: start = 0;                   stepX = h;  stepY = 1;  break;
    case 6: start = h - 1;               stepX = h;  stepY = -1; break;
    case 7: start = (w - 1) * h + h - 1; stepX = -h; stepY = -1; break;
    case 8: start = (w - 1) * h;         stepX = -h; stepY = 1;  break;
    default: break;
  }

  Bitmap out;
  out.width = SwapsSides(orientation) ? bitmap.height : bitmap.width;
  out.height = SwapsSides(orientation) ? bitmap.width : bitmap.height;
  out.bgra.resize(bitmap.bgra.size());
  const uint8_t* src = bitmap.bgra.data();
  uint8_t* dst = out.bgra.data();
  // In square tiles, so that the turned writes stay within a few cache lines.
  constexpr int64_t kTile = 64;
  for (int64_t ty = 0; ty < h; ty += kTile) {
    for (int64_t tx = 0; tx < w; tx += kTile) {
      const int64_t yEnd = std::min(h, ty + kTile), xEnd = std::min(w, tx + kTile);
      for (int64_t y = ty; y < yEnd; ++y) {
        int64_t at = start + y * stepY + tx * stepX;
        const uint8_t* from = src + (y * w + tx) * 4;
        for (int64_t x = tx; x < xEnd; ++x, at += stepX, from += 4) std::memcpy(dst + at * 4, from, 4);
      }
    }
  }
  return out;
}

}  // namespace VirelantDesktop::attach
