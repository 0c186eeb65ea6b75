// A device-independent bitmap as the clipboard carries it (a BITMAPINFO
// header, optional masks and colour table, then the pixels) turned into the
// bytes of a .bmp file: a 14-byte file header in front, the bytes unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace VirelantDesktop::attach {

// The largest picture taken from the clipboard, in pixels.
inline constexpr uint64_t kMaxClipboardPixels = 134217728;

// |width| x |height| as the header gives them; 0 when there are fewer than
// 40 bytes.
uint64_t DibPixelCount(std::string_view dib);

// Empty when the header is too short or inconsistent, the picture is empty
// or larger than kMaxClipboardPixels, or (uncompressed and bit-field
// pictures) the pixels do not fit in the bytes given.
std::string DibToBmp(std::string_view dib);

}  // namespace VirelantDesktop::attach
