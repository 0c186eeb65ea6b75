// PNG through libpng. Non-interlaced pictures are streamed row by row into
// the area scaler; interlaced ones need the whole picture at 4 bytes a pixel
// first. Orientation comes from an eXIf chunk before the image data (one
// after it would need the whole file read before the first row).
//
// Errors: libpng's error callback longjmps back into the function that
// called setjmp; the state that outlives the jump is on the heap (PngJob).
#include <csetjmp>
#include <memory>
#include <string_view>
#include <vector>

#include <png.h>

#include "modules/attach/area_scaler.h"
#include "modules/attach/exif_orientation.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

void ReadData(png_structp png, png_bytep out, size_t size) {
  auto* source = static_cast<ImageSource*>(png_get_io_ptr(png));
  if (source->Read(out, size) != size) png_error(png, "truncated");
}

struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  StoredInfo stored;
  std::optional<AreaScaler> scaler;
  std::vector<uint8_t> pixels;     // one row, or the whole interlaced picture
  std::vector<png_bytep> rows;

  ~PngJob() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

bool ReadHeader(PngJob* job, ImageSource* source) {
  job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (job->png == nullptr) return false;
  job->info = png_create_info_struct(job->png);
  if (job->info == nullptr) return false;
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_read_fn(job->png, source, ReadData);
  png_set_user_limits(job->png, 0x7FFFFFFF, 0x7FFFFFFF);  // the format's own limits
  png_read_info(job->png, job->info);
  job->stored.width = png_get_image_width(job->png, job->info);
  job->stored.height = png_get_image_height(job->png, job->info);
  if (job->stored.width == 0 || job->stored.height == 0) return false;
  png_uint_32 exifSize = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(job->png, job->info, &exifSize, &exif) != 0 && exif != nullptr) {
    job->stored.orientation = OrientationFromExif(std::string_view(reinterpret_cast<const char*>(exif), exifSize));
  }
  return true;
}

bool ReadPixels(PngJob* job, uint32_t maxSide) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_structp png = job->png;
  png_infop info = job->info;
  const uint32_t w = job->stored.width, h = job->stored.height;
  if (uint64_t{w} * h > kMaxDecodePixels) return false;

  // Everything to 8-bit BGRA.
  const int colorType = png_get_color_type(png, info);
  png_set_expand(png);
  png_set_scale_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && png_get_valid(png, info, PNG_INFO_tRNS) == 0) {
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{w} * 4) return false;

  job->scaler = AreaScaler::Create({w, h}, ScaledSize(w, h, maxSide));
  if (!job->scaler) return false;
  if (passes == 1) {
    job->pixels.resize(size_t{w} * 4);
    for (uint32_t y = 0; y < h; ++y) {
      png_read_row(png, job->pixels.data(), nullptr);
      job->scaler->PushRow(job->pixels.data());
    }
  } else {
    job->pixels.resize(size_t{w} * h * 4);
    job->rows.resize(h);
    for (uint32_t y = 0; y < h; ++y) job->rows[y] = job->pixels.data() + size_t{y} * w * 4;
    png_read_image(png, job->rows.data());
    for (uint32_t y = 0; y < h; ++y) job->scaler->PushRow(job->rows[y]);
  }
  // No png_read_end: chunks after the image data cannot change the picture.
  return job->scaler->Complete();
}

std::optional<StoredInfo> Probe(ImageSource& source) {
  auto job = std::make_unique<PngJob>();
  if (!ReadHeader(job.get(), &source)) return std::nullopt;
  return job->stored;
}

std::optional<DecodedPicture> Decode(ImageSource& source, uint32_t maxSide) {
  auto job = std::make_unique<PngJob>();
  if (!ReadHeader(job.get(), &source) || !ReadPixels(job.get(), maxSide)) return std::nullopt;
  return DecodedPicture{job->scaler->Take(), job->stored.orientation};
}

}  // namespace

const ImageReader kPngReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
