// Our BMP reader: a whole file in memory to a scaled BGRA picture. No I/O.
//
// Accepted: the 14-byte file header followed by a core (12), OS/2 (16, 64),
// info (40), v2/v3 (52, 56), v4 (108) or v5 (124) header; 1, 4 and 8 bits
// with a palette (also RLE8 and RLE4), 16 and 32 bits plain or with bit
// fields, 24 bits plain. Rows are bottom-up, or top-down when the height is
// negative (never with RLE). Alpha comes only from an alpha bit field, and a
// picture whose alpha values are all 0 is read as opaque (the alpha was never
// filled in); plain 32-bit pixels are opaque. RLE pixels a "delta" or early end skips take
// palette colour 0. Palette indices past the palette are black.
//
// Memory: the file itself plus one converted row and the scaled result; RLE
// also needs one byte per pixel. Pictures above kMaxDecodePixels, and files
// shorter than their rows, are refused before anything that size is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "modules/attach/area_scaler.h"
#include "modules/attach/image_processing.h"

namespace VirelantDesktop::attach {

// Everything up to the end of the largest header and a full palette.
inline constexpr size_t kBmpHeadersBytes = 14 + 124 + 16 + 256 * 4;

// The size the headers give; nullopt when they are not a BMP we read. Needs
// only the first kBmpHeadersBytes of the file.
std::optional<PixelSize> ProbeBmp(std::string_view file) noexcept;

// The picture scaled to ScaledSize(..., maxSide); nullopt for a file that is
// not one we read, is truncated, or is too large. Throws std::bad_alloc.
std::optional<Bitmap> DecodeBmp(std::string_view file, uint32_t maxSide);

}  // namespace VirelantDesktop::attach
