// TIFF through libtiff: the first page, any layout libtiff's RGBA interface
// reads, fetched one strip (or one row of tiles) at a time into the area
// scaler. The orientation tag is read by our own EXIF parser and applied by
// the caller, so libtiff is asked for the rows exactly as stored.
//
// Memory: the file, libtiff's strip or tile buffer, and one strip or row of
// tiles at 4 bytes a pixel (the whole picture when it is one strip).
// libtiff's messages go to a silent handler of this TIFF only; the
// process-wide handlers are left alone.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "modules/attach/area_scaler.h"
#include "modules/attach/exif_orientation.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

// Largest single allocation libtiff may make for us (a strip or tile).
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{512} << 20;

struct MemoryFile {
  std::string_view bytes;
  uint64_t pos = 0;
};

tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (size <= 0 || file->pos >= file->bytes.size()) return 0;
  const auto n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), file->bytes.size() - file->pos));
  std::copy_n(file->bytes.data() + file->pos, n, static_cast<char*>(out));
  file->pos += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }
toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = file->pos;
  if (whence == SEEK_END) base = file->bytes.size();
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  file->pos = base + offset;
  return file->pos;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int Silent(TIFF*, void*, const char*, const char*, va_list) { return 1; }  // 1: handled, stop here

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// `file` must outlive the result.
TiffPtr Open(MemoryFile& file) {
  const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Silent, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Silent, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
  return TiffPtr(TIFFClientOpenExt("picture", "rm", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                   MapProc, UnmapProc, options.get()));
}

std::optional<StoredInfo> ReadInfo(TIFF* tif, std::string_view bytes) {
  uint32_t w = 0, h = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) != 1 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) != 1 || w == 0 ||
      h == 0) {
    return std::nullopt;
  }
  return StoredInfo{w, h, OrientationFromExif(bytes)};
}

std::optional<StoredInfo> Probe(ImageSource& source) {
  const auto bytes = source.ReadAll();
  if (!bytes) return std::nullopt;
  MemoryFile file{*bytes};
  const TiffPtr tif = Open(file);
  if (!tif) return std::nullopt;
  return ReadInfo(tif.get(), *bytes);
}

std::optional<DecodedPicture> Decode(ImageSource& source, uint32_t maxSide) {
  const auto bytes = source.ReadAll();
  if (!bytes) return std::nullopt;
  MemoryFile file{*bytes};
  const TiffPtr tif = Open(file);
  if (!tif) return std::nullopt;
  const auto info = ReadInfo(tif.get(), *bytes);
  if (!info || uint64_t{info->width} * info->height > kMaxDecodePixels) return std::nullopt;

  char message[1024] = {};
  TIFFRGBAImage image{};
  if (TIFFRGBAImageOK(tif.get(), message) == 0 || TIFFRGBAImageBegin(&image, tif.get(), 1, message) == 0) {
    return std::nullopt;
  }
  struct End {
    TIFFRGBAImage* image;
    ~End() { TIFFRGBAImageEnd(image); }
  } end{&image};
  // Asking for the stored orientation makes libtiff flip nothing.
  image.req_orientation = image.orientation;
  const uint32_t w = image.width, h = image.height;
  if (w != info->width || h != info->height) return std::nullopt;

  uint32_t band = 0;
  if (TIFFIsTiled(tif.get()) != 0) {
    TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &band);
  } else {
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &band);
  }
  band = std::clamp<uint32_t>(band, 1, h);

  auto scaler = AreaScaler::Create({w, h}, ScaledSize(w, h, maxSide));
  if (!scaler) return std::nullopt;
  std::vector<uint32_t> raster(size_t{w} * band);
  std::vector<uint8_t> row(size_t{w} * 4);
  const bool premultiplied = image.alpha != 0;  // libtiff hands out alpha premultiplied
  for (uint32_t top = 0; top < h; top += band) {
    const uint32_t rows = std::min(band, h - top);
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    if (TIFFRGBAImageGet(&image, raster.data(), w, rows) == 0) return std::nullopt;
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t* in = raster.data() + size_t{r} * w;
      for (size_t x = 0; x < w; ++x) {
        const uint32_t p = in[x];
        const uint32_t a = TIFFGetA(p);
        uint32_t red = TIFFGetR(p), green = TIFFGetG(p), blue = TIFFGetB(p);
        if (premultiplied && a < 255) {
          const auto restore = [a](uint32_t c) { return a == 0 ? 0 : std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
          red = restore(red), green = restore(green), blue = restore(blue);
        }
        row[x * 4 + 0] = static_cast<uint8_t>(blue);
        row[x * 4 + 1] = static_cast<uint8_t>(green);
        row[x * 4 + 2] = static_cast<uint8_t>(red);
        row[x * 4 + 3] = static_cast<uint8_t>(a);
      }
      scaler->PushRow(row.data());
    }
  }
  return DecodedPicture{scaler->Take(), info->orientation};
}

}  // namespace

const ImageReader kTiffReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
