// WebP through libwebp and its demuxer: the first frame of the canvas, with
// orientation from the EXIF chunk. A frame that fills the canvas is decoded
// straight to the target size by libwebp's own area-averaging rescaler, so
// memory is the file plus the result; a smaller first frame of an animation
// is placed on a transparent canvas first (4 bytes a canvas pixel).
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "modules/attach/area_scaler.h"
#include "modules/attach/exif_orientation.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

struct DemuxDeleter {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

struct Opened {
  Demuxer demux;
  StoredInfo info;
};

std::optional<Opened> Open(std::string_view bytes) {
  const WebPData data = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
  Opened out{Demuxer(WebPDemux(&data)), {}};
  if (!out.demux) return std::nullopt;
  out.info.width = WebPDemuxGetI(out.demux.get(), WEBP_FF_CANVAS_WIDTH);
  out.info.height = WebPDemuxGetI(out.demux.get(), WEBP_FF_CANVAS_HEIGHT);
  if (out.info.width == 0 || out.info.height == 0) return std::nullopt;
  if ((WebPDemuxGetI(out.demux.get(), WEBP_FF_FORMAT_FLAGS) & EXIF_FLAG) != 0) {
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(out.demux.get(), "EXIF", 1, &chunk) != 0) {
      out.info.orientation = OrientationFromExif(
          std::string_view(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size));
      WebPDemuxReleaseChunkIterator(&chunk);
    }
  }
  return out;
}

// One frame of `size`, decoded at `target` straight into a bitmap.
std::optional<Bitmap> DecodeFrame(const WebPData& frame, PixelSize size, PixelSize target) {
  WebPDecoderConfig config;
  if (WebPInitDecoderConfig(&config) == 0) return std::nullopt;
  if (WebPGetFeatures(frame.bytes, frame.size, &config.input) != VP8_STATUS_OK ||
      config.input.width != static_cast<int>(size.width) || config.input.height != static_cast<int>(size.height)) {
    return std::nullopt;
  }
  Bitmap out;
  out.width = target.width;
  out.height = target.height;
  out.bgra.resize(size_t{target.width} * target.height * 4);
  if (!(target == size)) {
    config.options.use_scaling = 1;
    config.options.scaled_width = static_cast<int>(target.width);
    config.options.scaled_height = static_cast<int>(target.height);
  }
  config.output.colorspace = MODE_BGRA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = out.bgra.data();
  config.output.u.RGBA.stride = static_cast<int>(target.width * 4);
  config.output.u.RGBA.size = out.bgra.size();
  const VP8StatusCode status = WebPDecode(frame.bytes, frame.size, &config);
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) return std::nullopt;
  return out;
}

std::optional<StoredInfo> Probe(ImageSource& source) {
  const auto bytes = source.ReadAll();
  if (!bytes) return std::nullopt;
  auto opened = Open(*bytes);
  if (!opened) return std::nullopt;
  return opened->info;
}

std::optional<DecodedPicture> Decode(ImageSource& source, uint32_t maxSide) {
  const auto bytes = source.ReadAll();
  if (!bytes) return std::nullopt;
  auto opened = Open(*bytes);
  if (!opened) return std::nullopt;
  const PixelSize canvas{opened->info.width, opened->info.height};
  if (uint64_t{canvas.width} * canvas.height > kMaxDecodePixels) return std::nullopt;
  const PixelSize target = ScaledSize(canvas.width, canvas.height, maxSide);

  WebPIterator iter;
  if (WebPDemuxGetFrame(opened->demux.get(), 1, &iter) == 0) return std::nullopt;
  struct Release {
    WebPIterator* it;
    ~Release() { WebPDemuxReleaseIterator(it); }
  } release{&iter};
  if (iter.complete == 0 || iter.width <= 0 || iter.height <= 0 || iter.x_offset < 0 || iter.y_offset < 0) {
    return std::nullopt;
  }
  const PixelSize frameSize{static_cast<uint32_t>(iter.width), static_cast<uint32_t>(iter.height)};
  if (uint64_t{frameSize.width} * frameSize.height > kMaxDecodePixels) return std::nullopt;
  if (iter.x_offset == 0 && iter.y_offset == 0 && frameSize == canvas) {
    auto bitmap = DecodeFrame(iter.fragment, frameSize, target);
    if (!bitmap) return std::nullopt;
    return DecodedPicture{std::move(*bitmap), opened->info.orientation};
  }

  const auto frame = DecodeFrame(iter.fragment, frameSize, frameSize);
  if (!frame) return std::nullopt;
  Bitmap full;
  full.width = canvas.width;
  full.height = canvas.height;
  full.bgra.assign(size_t{canvas.width} * canvas.height * 4, 0);
  const auto left = static_cast<uint32_t>(iter.x_offset), top = static_cast<uint32_t>(iter.y_offset);
  for (uint32_t y = 0; y < frameSize.height && top + y < canvas.height; ++y) {
    if (left >= canvas.width) break;
    const uint32_t run = std::min(frameSize.width, canvas.width - left);
    std::memcpy(full.bgra.data() + (size_t{top + y} * canvas.width + left) * 4,
                frame->bgra.data() + size_t{y} * frameSize.width * 4, size_t{run} * 4);
  }
  auto scaled = ScaleBitmap(full, target);
  if (!scaled) return std::nullopt;
  return DecodedPicture{std::move(*scaled), opened->info.orientation};
}

}  // namespace

const ImageReader kWebPReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
