// GIF through giflib: the first frame only, placed on the logical screen
// (grown to hold the frame when a writer got the screen too small); the rest
// of the screen is transparent, as browsers show it. Rows stream into the
// area scaler; an interlaced frame is kept whole first at one byte a pixel.
// Later frames are never read.
#include <gif_lib.h>

#include <algorithm>
#include <vector>

#include "modules/attach/area_scaler.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

int ReadData(GifFileType* gif, GifByteType* out, int size) {
  auto* source = static_cast<ImageSource*>(gif->UserData);
  return size <= 0 ? 0 : static_cast<int>(source->Read(out, static_cast<size_t>(size)));
}

struct GifJob {
  GifFileType* gif = nullptr;
  int transparent = NO_TRANSPARENT_COLOR;
  uint32_t width = 0, height = 0;  // the screen

  GifJob() = default;
  GifJob(const GifJob&) = delete;
  GifJob& operator=(const GifJob&) = delete;
  ~GifJob() {
    int error = 0;
    if (gif != nullptr) DGifCloseFile(gif, &error);
  }
};

// Opens the file and reads up to the first image descriptor.
bool ReadToFirstImage(GifJob& job, ImageSource& source) {
  int error = 0;
  job.gif = DGifOpen(&source, ReadData, &error);
  if (job.gif == nullptr) return false;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(job.gif, &type) == GIF_ERROR) return false;
    if (type == IMAGE_DESC_RECORD_TYPE) break;
    if (type != EXTENSION_RECORD_TYPE) return false;  // the end, or garbage, before any image
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(job.gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
      GraphicsControlBlock control{};
      if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) job.transparent = control.TransparentColor;
    }
    while (block != nullptr) {
      if (DGifGetExtensionNext(job.gif, &block) == GIF_ERROR) return false;
    }
  }
  if (DGifGetImageDesc(job.gif) == GIF_ERROR) return false;
  const GifImageDesc& frame = job.gif->Image;
  if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) return false;
  job.width = static_cast<uint32_t>(std::max(job.gif->SWidth, frame.Left + frame.Width));
  job.height = static_cast<uint32_t>(std::max(job.gif->SHeight, frame.Top + frame.Height));
  return true;
}

std::optional<StoredInfo> Probe(ImageSource& source) {
  GifJob job;
  if (!ReadToFirstImage(job, source)) return std::nullopt;
  return StoredInfo{job.width, job.height, 1};
}

std::optional<DecodedPicture> Decode(ImageSource& source, uint32_t maxSide) {
  GifJob job;
  if (!ReadToFirstImage(job, source)) return std::nullopt;
  if (uint64_t{job.width} * job.height > kMaxDecodePixels) return std::nullopt;
  const GifImageDesc& frame = job.gif->Image;
  const ColorMapObject* colors = frame.ColorMap != nullptr ? frame.ColorMap : job.gif->SColorMap;
  if (colors == nullptr || colors->Colors == nullptr) return std::nullopt;

  const auto fw = static_cast<uint32_t>(frame.Width), fh = static_cast<uint32_t>(frame.Height);
  const auto left = static_cast<uint32_t>(frame.Left), top = static_cast<uint32_t>(frame.Top);
  auto scaler = AreaScaler::Create({job.width, job.height}, ScaledSize(job.width, job.height, maxSide));
  if (!scaler) return std::nullopt;
  std::vector<uint8_t> row(size_t{job.width} * 4);
  // One screen row; `indices` is the frame's row there, or null above and below it.
  const auto pushRow = [&](const GifPixelType* indices) {
    std::fill(row.begin(), row.end(), 0);
    for (uint32_t x = 0; indices != nullptr && x < fw; ++x) {
      uint8_t* px = row.data() + (size_t{left} + x) * 4;
      const int index = indices[x];
      if (index == job.transparent) continue;
      if (index < colors->ColorCount) {
        const GifColorType& c = colors->Colors[index];
        px[0] = c.Blue, px[1] = c.Green, px[2] = c.Red;
      }
      px[3] = 255;  // an index past the colour table is black
    }
    scaler->PushRow(row.data());
  };

  // Rows in order stream straight through; interlaced rows arrive in four
  // passes, so the frame is kept whole (one byte a pixel) first.
  std::vector<GifPixelType> frameRows(frame.Interlace ? size_t{fw} * fh : fw);
  const auto readRow = [&](GifPixelType* into) { return DGifGetLine(job.gif, into, frame.Width) != GIF_ERROR; };
  if (frame.Interlace) {
    static constexpr uint32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (uint32_t y = kStart[pass]; y < fh; y += kStep[pass]) {
        if (!readRow(frameRows.data() + size_t{y} * fw)) return std::nullopt;
      }
    }
  }
  for (uint32_t y = 0; y < job.height; ++y) {
    if (y < top || y - top >= fh) {
      pushRow(nullptr);
    } else if (frame.Interlace) {
      pushRow(frameRows.data() + size_t{y - top} * fw);
    } else {
      if (!readRow(frameRows.data())) return std::nullopt;
      pushRow(frameRows.data());
    }
  }
  return DecodedPicture{scaler->Take(), 1};
}

}  // namespace

const ImageReader kGifReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
