// The orientation tag (274) of EXIF data. No I/O.
//
// The input is a TIFF structure ("II*\0" or "MM\0*", also BigTIFF), as in a
// JPEG APP1 block after its "Exif\0\0" prefix, a PNG eXIf chunk, a WebP EXIF
// chunk or a TIFF file itself; a leading "Exif\0\0" is skipped. Only the first
// IFD counts. The tag must be one SHORT (type 3, count 1) holding 1 to 8;
// anything else, and any structure that does not hold together, gives 1.
#pragma once

#include <string_view>

namespace VirelantDesktop::attach {

int OrientationFromExif(std::string_view tiff) noexcept;

}  // namespace VirelantDesktop::attach
