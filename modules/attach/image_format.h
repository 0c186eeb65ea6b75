// Which codec a file needs, told from its first bytes alone. No I/O.
#pragma once

#include <cstddef>
#include <string_view>

namespace VirelantDesktop::attach {

enum class SourceFormat { Unknown, Jpeg, Png, Gif, WebP, Heif, Tiff, Bmp };

// How many leading bytes SniffFormat looks at, at most.
inline constexpr size_t kSniffBytes = 64;

// HEIF means an ISO media file whose "ftyp" box names a HEIF brand (HEVC or
// AV1 coded, still or sequence) as its major or a compatible brand.
SourceFormat SniffFormat(std::string_view head) noexcept;

}  // namespace VirelantDesktop::attach
