// The reader every codec offers to the image routines (image_processing.cpp).
//
// A reader looks at one picture from the start of an ImageSource. Probe reads
// headers and metadata only; Decode returns the first frame as BGRA, already
// scaled to ScaledSize(stored size, maxSide) but not yet turned upright.
// Readers report failure by nullopt and never let a codec's error escape:
// libjpeg and libpng errors are caught by setjmp inside the reader, the other
// libraries report by their return values. They may throw std::bad_alloc, and
// PictureTooComplex for a picture past a work bound.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "modules/attach/image_format.h"
#include "modules/attach/image_processing.h"
#include "modules/attach/image_source.h"

namespace VirelantDesktop::attach {

// A decode stopped because the picture would take more work than one may
// (kMaxJpegScans); DecodeFailure::TooComplex to the callers.
class PictureTooComplex : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StoredInfo {
  uint32_t width = 0, height = 0;  // as stored, before orientation; never 0
  int orientation = 1;             // 1..8
};

struct DecodedPicture {
  Bitmap bitmap;
  int orientation = 1;
};

struct ImageReader {
  std::optional<StoredInfo> (*probe)(ImageSource& source);
  std::optional<DecodedPicture> (*decode)(ImageSource& source, uint32_t maxSide);
};

extern const ImageReader kJpegReader, kPngReader, kGifReader, kWebPReader, kHeifReader, kTiffReader,
    kBmpReader;

// nullptr for SourceFormat::Unknown.
const ImageReader* ReaderFor(SourceFormat format) noexcept;

}  // namespace VirelantDesktop::attach
