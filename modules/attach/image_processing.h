// Image work for attachments: reading the displayed size and orientation of a
// picture, decoding it scaled down and upright, the opaque test, encoding a
// staged copy, and the small JPEG thumbnail sent with a pending attachment.
//
// The format is decided by the first bytes of the file, never by its name.
// Readable: JPEG, PNG, WebP (first frame), GIF (first frame), HEIF/HEIC, TIFF
// (first page) and BMP. Every routine reports failure by its result and never
// throws; none of them keeps state, so they may run on any thread at once.
//
// Sizes: when the longer side L exceeds the limit M, the result is
// w' = max(1, (w*M + L/2) / L) by h' likewise (integer, halves rounded up),
// made by area averaging; the EXIF orientation is applied after scaling, so a
// 4000x3000 picture with orientation 6 becomes 1536x2048.
//
// Orientation: JPEG (APP1 "Exif"), TIFF (tag 274), and the EXIF chunks of PNG
// (eXIf) and WebP (EXIF) count; the tag must be a SHORT holding 1..8,
// anything else reads as 1. HEIF containers carry their own rotation and
// mirroring (irot/imir), which the decoder applies itself, so for HEIF
// ReadOrientation returns 1 and ProbeImageSize reports the transformed size.
//
// Memory: JPEG, PNG and GIF stream from the file, and every reader feeds
// its rows to the area scaler, so a 100-megapixel JPEG costs a few megabytes
// beyond the output. WebP, HEIF, TIFF and BMP files are read into memory
// whole; interlaced PNG (4 bytes a pixel), interlaced GIF (1 byte), HEIF
// (about 6 bytes) and single-strip TIFF (4 bytes) also hold the whole
// picture while decoding. Pictures over kMaxDecodePixels are refused before
// anything that size is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::attach {

// 8-bit BGRA, not premultiplied, rows of width*4 bytes with no padding.
struct Bitmap {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> bgra;
};

enum class ImageFormat { Png, Jpeg };

inline constexpr uint32_t kStagingMaxSide = 2048, kThumbnailMaxSide = 128;
inline constexpr float kStagingJpegQuality = 0.8f, kThumbnailJpegQuality = 0.7f;

// Largest picture (width * height) any reader decodes: 2^27 pixels, 512 MiB
// of BGRA, the most the attachment pipeline lets through. Headers claiming
// more are refused before anything that size is allocated; probing still
// reports any size, so the caller can tell "too large" from "unreadable".
inline constexpr uint64_t kMaxDecodePixels = uint64_t{1} << 27;

// Most scans a JPEG may have. Each scan of a progressive file is a pass over
// every block of its components, whatever its size in bytes, so the scans
// bound the work of one picture. libjpeg's own progressions write 10 scans
// for colour, 6 for greyscale and 18 for CMYK, and optimising encoders stay
// well below 100; libtiff refuses JPEG data inside TIFF past 100 scans too.
inline constexpr int kMaxJpegScans = 100;

// Why a decode gave nothing.
enum class DecodeFailure {
  Unreadable,  // not a picture we read, damaged, or above kMaxDecodePixels
  TooComplex,  // more work than a picture may take: a JPEG past kMaxJpegScans
};

// The displayed size, i.e. after orientation.
struct ProbedSize {
  bool ok = false;
  uint32_t width = 0, height = 0;
};

// 1..8; 1 when the file has no orientation, an invalid one, or is unreadable.
int ReadOrientation(const std::string& path);

// Reads headers and metadata only, never pixels.
ProbedSize ProbeImageSize(const std::string& path);

// Decodes the first frame, scaled so neither side exceeds maxSide (0 = no
// limit), then turned upright. nullopt on any failure, and then, when `why`
// is given, the reason in it.
std::optional<Bitmap> DecodeOriented(const std::string& path, uint32_t maxSide, DecodeFailure* why = nullptr);

// Every alpha byte is 255; a bitmap without pixels is opaque.
bool IsOpaque(const Bitmap& bitmap);

// JPEG: 24-bit, quality 0..1. PNG: 24-bit RGB when opaque, else 32-bit RGBA.
// Written beside `name` in the open `folder` and renamed over it; on any
// failure nothing is left at `name` and false is returned.
bool EncodeImageFileAt(const Bitmap& bitmap, ImageFormat format, float quality, bool opaque,
                       const platform::UniqueFd& folder, const std::string& name);
// The same at `path` (its folder opened by path; the last one not a link).
bool EncodeImageFile(const Bitmap& bitmap, ImageFormat format, float quality, bool opaque,
                     const std::string& path);

// "data:image/jpeg;base64,..." of the picture scaled to at most 128 pixels,
// quality 0.7; "" on any failure.
std::string MakeThumbnail(const std::string& path);

// In-memory forms of the above, for callers that already hold the bytes.
int ReadOrientationFromMemory(std::string_view bytes);
ProbedSize ProbeImageSizeFromMemory(std::string_view bytes);
std::optional<Bitmap> DecodeOrientedFromMemory(std::string_view bytes, uint32_t maxSide,
                                               DecodeFailure* why = nullptr);
// Encodes into a buffer; nullopt on failure.
std::optional<std::string> EncodeImage(const Bitmap& bitmap, ImageFormat format, float quality,
                                       bool opaque);

}  // namespace VirelantDesktop::attach
