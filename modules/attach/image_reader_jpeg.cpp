// JPEG through libjpeg-turbo, streamed: the decoder shrinks by its DCT scaling
// to the smallest size still at or above the target, and the rows go straight
// into the area scaler. Memory is a few rows plus the result, except for
// progressive files, whose coefficients libjpeg keeps whole (2 bytes a
// sample); above kMaxDecoderMemory such a file fails instead.
//
// Work: every scan of a progressive file is a pass over all the blocks of its
// components, however few bytes the scan takes, so a small file of many scans
// can keep a worker busy for minutes. A file with more than kMaxJpegScans
// scans stops at the first scan past the limit (PictureTooComplex).
//
// Errors: libjpeg's error_exit longjmps back into the function that called
// setjmp. Everything that outlives the jump lives on the heap in JpegJob,
// owned by a pointer that is not changed after setjmp, and no frame between
// holds an object with a destructor.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "modules/attach/area_scaler.h"
#include "modules/attach/exif_orientation.h"
#include "modules/attach/image_reader.h"

namespace VirelantDesktop::attach {
namespace {

constexpr size_t kInputBlock = size_t{64} << 10;
// libjpeg's own pool: enough for the coefficients of a progressive 4:2:0
// picture at the pipeline's pixel limit (2^27 pixels * 1.5 samples * 2
// bytes), so a small hostile file cannot make it take more.
constexpr long kMaxDecoderMemory = long{384} << 20;

struct JpegError {
  jpeg_error_mgr mgr;  // first: libjpeg sees only this part
  std::jmp_buf jump;
};

struct JpegProgress {
  jpeg_progress_mgr mgr;  // first, as above
  bool tooManyScans = false;
};

struct JpegInput {
  jpeg_source_mgr mgr;  // first, as above
  ImageSource* source;
  JOCTET buffer[kInputBlock];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
void EmitMessage(j_common_ptr, int) {}  // warnings stay silent
void OutputMessage(j_common_ptr) {}

// Called before each row of input is absorbed, so right after a scan's
// header was read and before any of its data is decoded.
void MonitorProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxJpegScans) return;
  reinterpret_cast<JpegProgress*>(cinfo->progress)->tooManyScans = true;
  (*cinfo->err->error_exit)(cinfo);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* in = reinterpret_cast<JpegInput*>(cinfo->src);
  const size_t got = in->source->Read(in->buffer, sizeof in->buffer);
  // A truncated or unreadable file fails; libjpeg would otherwise pad the
  // rest of the picture with grey.
  if (got == 0) ERREXIT(cinfo, JERR_INPUT_EOF);
  in->mgr.next_input_byte = in->buffer;
  in->mgr.bytes_in_buffer = got;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* in = reinterpret_cast<JpegInput*>(cinfo->src);
  auto left = static_cast<size_t>(count);
  while (left > in->mgr.bytes_in_buffer) {
    left -= in->mgr.bytes_in_buffer;
    FillInput(cinfo);
  }
  in->mgr.next_input_byte += left;
  in->mgr.bytes_in_buffer -= left;
}

struct JpegJob {
  jpeg_decompress_struct cinfo{};
  JpegError error{};
  JpegProgress progress{};
  JpegInput input{};
  bool created = false;
  StoredInfo info;
  std::optional<AreaScaler> scaler;
  std::vector<uint8_t> row;

  explicit JpegJob(ImageSource& source) {
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = ErrorExit;
    error.mgr.emit_message = EmitMessage;
    error.mgr.output_message = OutputMessage;
    progress.mgr.progress_monitor = MonitorProgress;
    input.source = &source;
    input.mgr.init_source = InitSource;
    input.mgr.fill_input_buffer = FillInput;
    input.mgr.skip_input_data = SkipInput;
    input.mgr.resync_to_restart = jpeg_resync_to_restart;
    input.mgr.term_source = TermSource;
  }
  ~JpegJob() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  JpegJob(const JpegJob&) = delete;
  JpegJob& operator=(const JpegJob&) = delete;
};

int OrientationFromMarkers(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    const std::string_view data(reinterpret_cast<const char*>(m->data), m->data_length);
    if (m->marker == JPEG_APP0 + 1 && data.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
      return OrientationFromExif(data);
    }
  }
  return 1;
}

// Up to the end of the headers; false on any error.
bool ReadHeader(JpegJob* job) {
  if (setjmp(job->error.jump)) return false;
  jpeg_create_decompress(&job->cinfo);
  job->created = true;
  job->cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  job->cinfo.src = &job->input.mgr;
  job->cinfo.progress = &job->progress.mgr;
  jpeg_save_markers(&job->cinfo, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(&job->cinfo, TRUE) != JPEG_HEADER_OK) return false;
  if (job->cinfo.image_width == 0 || job->cinfo.image_height == 0) return false;
  job->info = {job->cinfo.image_width, job->cinfo.image_height, OrientationFromMarkers(job->cinfo)};
  return true;
}

// CMYK as Adobe writes it (inverted) or plain, to BGRA in place.
void CmykToBgra(uint8_t* row, size_t pixels, bool inverted) {
  for (size_t i = 0; i < pixels; ++i, row += 4) {
    unsigned c = row[0], m = row[1], y = row[2], k = row[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    row[0] = static_cast<uint8_t>((y * k + 127) / 255);
    row[1] = static_cast<uint8_t>((m * k + 127) / 255);
    row[2] = static_cast<uint8_t>((c * k + 127) / 255);
    row[3] = 255;
  }
}

// After ReadHeader: the rows, shrunk, into job->scaler.
bool ReadPixels(JpegJob* job, uint32_t maxSide) {
  if (setjmp(job->error.jump)) return false;
  jpeg_decompress_struct& cinfo = job->cinfo;
  if (uint64_t{cinfo.image_width} * cinfo.image_height > kMaxDecodePixels) return false;
  const PixelSize target = ScaledSize(cinfo.image_width, cinfo.image_height, maxSide);

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  cinfo.scale_denom = 8;
  for (unsigned num = 1; num <= 8; ++num) {
    cinfo.scale_num = num;
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width >= target.width && cinfo.output_height >= target.height) break;
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 4) return false;
  job->scaler = AreaScaler::Create({cinfo.output_width, cinfo.output_height}, target);
  if (!job->scaler) return false;
  job->row.resize(size_t{cinfo.output_width} * 4);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {job->row.data()};
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) return false;
    if (cmyk) CmykToBgra(job->row.data(), cinfo.output_width, cinfo.saw_Adobe_marker);
    job->scaler->PushRow(job->row.data());
  }
  // No jpeg_finish_decompress: what follows the last scan (even a missing
  // end marker) cannot change the picture.
  return job->scaler->Complete();
}

std::optional<StoredInfo> Probe(ImageSource& source) {
  auto job = std::make_unique<JpegJob>(source);
  if (!ReadHeader(job.get())) return std::nullopt;
  return job->info;
}

std::optional<DecodedPicture> Decode(ImageSource& source, uint32_t maxSide) {
  auto job = std::make_unique<JpegJob>(source);
  if (!ReadHeader(job.get())) return std::nullopt;
  if (!ReadPixels(job.get(), maxSide)) {
    if (job->progress.tooManyScans) throw PictureTooComplex("more than " + std::to_string(kMaxJpegScans) + " scans");
    return std::nullopt;
  }
  return DecodedPicture{job->scaler->Take(), job->info.orientation};
}

}  // namespace

const ImageReader kJpegReader = {Probe, Decode};

}  // namespace VirelantDesktop::attach
