// Turning a picture upright from its EXIF orientation (tag 274). No I/O.
//
//   1 as stored                       5 mirrored left-right, then turned 270 deg clockwise (transpose)
//   2 mirrored left-right             6 turned 90 deg clockwise
//   3 turned 180 deg                  7 mirrored left-right, then turned 90 deg clockwise
//   4 mirrored top-bottom             8 turned 270 deg clockwise
//
// Orientations 5 to 8 swap width and height.
#pragma once

#include "modules/attach/image_processing.h"

namespace VirelantDesktop::attach {

inline bool SwapsSides(int orientation) noexcept { return orientation >= 5 && orientation <= 8; }

// The upright picture. An orientation outside 2..8, or a bitmap whose buffer
// is not width*height*4 bytes, comes back unchanged. Throws std::bad_alloc.
Bitmap ApplyOrientation(Bitmap bitmap, int orientation);

}  // namespace VirelantDesktop::attach
