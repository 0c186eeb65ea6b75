// HEIF/HEIC (and AVIF-coded HEIF) through libheif: the primary image.
//
// The container's own rotation, mirroring and crop (irot, imir, clap) are
// applied by libheif while decoding and are already part of the size it
// reports, so the orientation is always 1 here: an EXIF orientation inside a
// HEIF file describes the same turn and must not be applied a second time.
//
// Memory: the file, libheif's decoded planes (1.5 to 3 bytes a pixel) and an
// RGBA copy (4 bytes a pixel) at full size, then the scaled result.
#include <libheif/heif.h>

#include <memory>
#include <mutex>
#include <vector>

#include "modules/attach/area_scaler.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { heif_init(nullptr); });  // loads the codec plugins; never undone
}

struct ContextDeleter {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

struct Opened {
  std::unique_ptr<heif_context, ContextDeleter> context;
  std::unique_ptr<heif_image_handle, HandleDeleter> handle;
  StoredInfo info;
};

std::optional<Opened> Open(std::string_view bytes) {
  InitOnce();
  Opened out;
  out.context.reset(heif_context_alloc());
  if (!out.context) return std::nullopt;
  if (heif_context_read_from_memory_without_copy(out.context.get(), bytes.data(), bytes.size(), nullptr).code !=
      heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* handle = nullptr;
  if (heif_context_get_primary_image_handle(out.context.get(), &handle).code != heif_error_Ok) return std::nullopt;
  out.handle.reset(handle);
  const int w = heif_image_handle_get_width(handle), h = heif_image_handle_get_height(handle);
  if (w <= 0 || h <= 0) return std::nullopt;
  out.info = {static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1};
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
  if (uint64_t{opened->info.width} * opened->info.height > kMaxDecodePixels) return std::nullopt;

  std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
  if (!options) return std::nullopt;
  options->convert_hdr_to_8bit = 1;
  heif_image* decoded = nullptr;
  if (heif_decode_image(opened->handle.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                        options.get())
          .code != heif_error_Ok) {
    return std::nullopt;
  }
  const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
  const int w = heif_image_get_width(decoded, heif_channel_interleaved);
  const int h = heif_image_get_height(decoded, heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  if (plane == nullptr || w <= 0 || h <= 0 || stride < w * 4 ||
      heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved) != 8) {
    return std::nullopt;
  }

  // The picture must be the one the header describes: the pixel limit and
  // every size reported were taken from it (a malformed grid can decode to
  // another size).
  if (static_cast<uint32_t>(w) != opened->info.width || static_cast<uint32_t>(h) != opened->info.height) {
    return std::nullopt;
  }
  const PixelSize size{static_cast<uint32_t>(w), static_cast<uint32_t>(h)};
  auto scaler = AreaScaler::Create(size, ScaledSize(size.width, size.height, maxSide));
  if (!scaler) return std::nullopt;
  std::vector<uint8_t> row(size_t{size.width} * 4);
  for (uint32_t y = 0; y < size.height; ++y) {
    const uint8_t* in = plane + size_t{y} * static_cast<size_t>(stride);
    for (size_t x = 0; x < size.width; ++x) {
      row[x * 4 + 0] = in[x * 4 + 2];
      row[x * 4 + 1] = in[x * 4 + 1];
      row[x * 4 + 2] = in[x * 4 + 0];
      row[x * 4 + 3] = in[x * 4 + 3];
    }
    scaler->PushRow(row.data());
  }
  return DecodedPicture{scaler->Take(), 1};
}

}  // namespace

const ImageReader kHeifReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
