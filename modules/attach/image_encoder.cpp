// Encoding a bitmap to JPEG (libjpeg-turbo) or PNG (libpng) in memory.
//
// 24-bit output (every JPEG, and PNG when the caller says the picture is
// opaque) is the picture laid over white: dropping alpha alone would show
// whatever colour transparent pixels happen to hold, often black or hidden
// content. Opaque pixels are unchanged.
//
// Errors: both libraries longjmp from their error callbacks back into the
// function that called setjmp; what outlives the jump is on the heap.
#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "modules/attach/image_processing.h"

namespace VirelantDesktop::attach {
namespace {

bool RowOpaque(const uint8_t* bgra, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) {
    if (bgra[size_t{x} * 4 + 3] != 255) return false;
  }
  return true;
}

// BGRA over white, still 4 bytes a pixel (the fourth is ignored by the encoders).
void FlattenRow(const uint8_t* in, uint8_t* out, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
    const unsigned a = in[3];
    for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((in[c] * a + 255 * (255 - a) + 127) / 255);
    out[3] = 255;
  }
}

// The row as the 24-bit encoders should see it.
const uint8_t* OpaqueRow(const Bitmap& bitmap, uint32_t y, std::vector<uint8_t>& scratch) {
  const uint8_t* row = bitmap.bgra.data() + size_t{y} * bitmap.width * 4;
  if (RowOpaque(row, bitmap.width)) return row;
  FlattenRow(row, scratch.data(), bitmap.width);
  return scratch.data();
}

// ---- JPEG ----

struct JpegError {
  jpeg_error_mgr mgr;  // first: libjpeg sees only this part
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
void JpegEmit(j_common_ptr, int) {}
void JpegOutput(j_common_ptr) {}

struct JpegJob {
  jpeg_compress_struct cinfo{};
  JpegError error{};
  bool created = false;
  unsigned char* buffer = nullptr;  // malloc'd by libjpeg's memory destination
  unsigned long size = 0;
  std::vector<uint8_t> scratch;

  JpegJob() {
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = JpegErrorExit;
    error.mgr.emit_message = JpegEmit;
    error.mgr.output_message = JpegOutput;
  }
  ~JpegJob() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
  JpegJob(const JpegJob&) = delete;
  JpegJob& operator=(const JpegJob&) = delete;
};

bool RunJpeg(JpegJob* job, const Bitmap* bitmap, int quality) {
  if (setjmp(job->error.jump)) return false;
  jpeg_create_compress(&job->cinfo);
  job->created = true;
  jpeg_mem_dest(&job->cinfo, &job->buffer, &job->size);
  job->cinfo.image_width = bitmap->width;
  job->cinfo.image_height = bitmap->height;
  job->cinfo.input_components = 4;
  job->cinfo.in_color_space = JCS_EXT_BGRA;
  jpeg_set_defaults(&job->cinfo);
  jpeg_set_quality(&job->cinfo, quality, TRUE);
  job->scratch.resize(size_t{bitmap->width} * 4);
  jpeg_start_compress(&job->cinfo, TRUE);
  while (job->cinfo.next_scanline < job->cinfo.image_height) {
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(OpaqueRow(*bitmap, job->cinfo.next_scanline, job->scratch))};
    jpeg_write_scanlines(&job->cinfo, rows, 1);
  }
  jpeg_finish_compress(&job->cinfo);
  return true;
}

std::optional<std::string> EncodeJpeg(const Bitmap& bitmap, float quality) {
  auto job = std::make_unique<JpegJob>();
  const int percent = static_cast<int>(std::lround(quality * 100.0f));
  if (!RunJpeg(job.get(), &bitmap, percent) || job->buffer == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(job->buffer), job->size);
}

// ---- PNG ----

[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string out;
  std::vector<uint8_t> scratch;

  ~PngJob() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
};

void PngWrite(png_structp png, png_bytep data, size_t size) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    job->out.append(reinterpret_cast<const char*>(data), size);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "out of memory");  // outside the catch: no exception is alive across the jump
}
void PngFlush(png_structp) {}

bool RunPng(PngJob* job, const Bitmap* bitmap, bool alpha) {
  job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (job->png == nullptr) return false;
  job->info = png_create_info_struct(job->png);
  if (job->info == nullptr) return false;
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_write_fn(job->png, job, PngWrite, PngFlush);
  png_set_IHDR(job->png, job->info, bitmap->width, bitmap->height, 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(job->png, job->info);
  png_set_bgr(job->png);
  if (!alpha) png_set_filler(job->png, 0, PNG_FILLER_AFTER);  // drops the fourth byte
  job->scratch.resize(size_t{bitmap->width} * 4);
  for (uint32_t y = 0; y < bitmap->height; ++y) {
    const uint8_t* row = alpha ? bitmap->bgra.data() + size_t{y} * bitmap->width * 4
                               : OpaqueRow(*bitmap, y, job->scratch);
    png_write_row(job->png, row);
  }
  png_write_end(job->png, nullptr);
  return true;
}

std::optional<std::string> EncodePng(const Bitmap& bitmap, bool alpha) {
  auto job = std::make_unique<PngJob>();
  if (!RunPng(job.get(), &bitmap, alpha)) return std::nullopt;
  return std::move(job->out);
}

}  // namespace

std::optional<std::string> EncodeImage(const Bitmap& bitmap, ImageFormat format, float quality, bool opaque) {
  try {
    if (bitmap.width == 0 || bitmap.height == 0 ||
        bitmap.bgra.size() != size_t{bitmap.width} * bitmap.height * 4) {
      return std::nullopt;
    }
    if (format == ImageFormat::Jpeg) {
      // Refused like an invalid encoder option, never silently clamped.
      if (!(quality >= 0.0f && quality <= 1.0f)) return std::nullopt;
      return EncodeJpeg(bitmap, quality);
    }
    return EncodePng(bitmap, !opaque);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace VirelantDesktop::attach
