#include "tests/attach/image_samples.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace VirelantDesktop::testing::images {
namespace {

void Put16(std::string& out, uint32_t v, bool big = false) {
  const char lo = static_cast<char>(v & 0xFF), hi = static_cast<char>((v >> 8) & 0xFF);
  out += big ? hi : lo;
  out += big ? lo : hi;
}
void Put32(std::string& out, uint32_t v, bool big = false) {
  Put16(out, big ? v >> 16 : v & 0xFFFF, big);
  Put16(out, big ? v & 0xFFFF : v >> 16, big);
}

std::string ReadAllOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

Bitmap Make(uint32_t width, uint32_t height, const std::function<Bgra(uint32_t, uint32_t)>& pixel) {
  Bitmap out;
  out.width = width;
  out.height = height;
  out.bgra.resize(size_t{width} * height * 4);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const Bgra p = pixel(x, y);
      std::copy(p.begin(), p.end(), out.bgra.begin() + static_cast<long>((size_t{y} * width + x) * 4));
    }
  }
  return out;
}

Bitmap Quadrants(uint32_t width, uint32_t height, bool clearCorner) {
  return Make(width, height, [&](uint32_t x, uint32_t y) -> Bgra {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    if (!bottom) return right ? Bgra{0, 255, 0, 255} : Bgra{0, 0, 255, 255};
    if (!right) return Bgra{255, 0, 0, 255};
    return clearCorner ? Bgra{0, 0, 0, 0} : Bgra{255, 255, 255, 255};
  });
}

Bgra PixelAt(const Bitmap& bitmap, uint32_t x, uint32_t y) {
  const size_t at = (size_t{y} * bitmap.width + x) * 4;
  return {bitmap.bgra[at], bitmap.bgra[at + 1], bitmap.bgra[at + 2], bitmap.bgra[at + 3]};
}

std::string ExifOrientation(uint16_t value, uint16_t type, uint32_t count, bool big) {
  std::string out("Exif\0\0", 6);
  out += big ? std::string("MM\0*", 4) : std::string("II*\0", 4);
  Put32(out, 8, big);    // first IFD right after the header
  Put16(out, 1, big);    // one entry
  Put16(out, 274, big);
  Put16(out, type, big);
  Put32(out, count, big);
  if (type == 3) {
    Put16(out, value, big);
    Put16(out, 0, big);
  } else {
    Put32(out, value, big);
  }
  Put32(out, 0, big);    // no next IFD
  return out;
}

std::string Jpeg(const Bitmap& bitmap, std::string_view app1, int quality) {
  return JpegOf(bitmap.width, bitmap.height, [&](uint32_t x, uint32_t y) { return PixelAt(bitmap, x, y); }, app1,
                quality);
}

std::string JpegOf(uint32_t width, uint32_t height, const std::function<Bgra(uint32_t, uint32_t)>& pixel,
                   std::string_view app1, int quality) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRA;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (!app1.empty()) info.write_JFIF_header = FALSE;  // as cameras write them: Exif first
  jpeg_start_compress(&info, TRUE);
  if (!app1.empty()) {
    jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()),
                      static_cast<unsigned>(app1.size()));
  }
  std::vector<uint8_t> line(size_t{width} * 4);
  while (info.next_scanline < info.image_height) {
    for (uint32_t x = 0; x < width; ++x) {
      const Bgra p = pixel(x, info.next_scanline);
      std::copy(p.begin(), p.end(), line.begin() + static_cast<long>(size_t{x} * 4));
    }
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return out;
}

std::string JpegScans(uint32_t width, uint32_t height, int scans, uint8_t shade) {
  const int bands = std::min(scans - 1, 63);
  const int refined = scans - 1 - bands;  // bands first sent without their last bit
  std::vector<jpeg_scan_info> script;
  script.push_back({1, {0}, 0, 0, 0, 0});
  const auto band = [&](int b, int ah, int al) {
    script.push_back({1, {0}, 1 + b * 63 / bands, (b + 1) * 63 / bands, ah, al});
  };
  for (int b = 0; b < bands; ++b) band(b, 0, b < refined ? 1 : 0);
  for (int b = 0; b < refined; ++b) band(b, 1, 0);

  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  info.scan_info = script.data();
  info.num_scans = static_cast<int>(script.size());
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(width, shade);
  while (info.next_scanline < height) {
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return out;
}

std::string JpegCmyk(uint32_t width, uint32_t height, std::array<uint8_t, 4> cmyk) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(size_t{width} * 4);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(255 - cmyk[i % 4]);  // stored inverted, as Adobe does
  while (info.next_scanline < height) {
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return out;
}

std::string Png(const Bitmap& bitmap, bool alpha, bool interlaced, std::string_view exif) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
      },
      nullptr);
  png_set_IHDR(png, info, bitmap.width, bitmap.height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::string tiff(exif.substr(exif.substr(0, 6) == std::string_view("Exif\0\0", 6) ? 6 : 0));
  if (!tiff.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(tiff.size()), reinterpret_cast<png_bytep>(tiff.data()));
  }
  png_write_info(png, info);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  std::vector<png_bytep> rows(bitmap.height);
  for (uint32_t y = 0; y < bitmap.height; ++y) {
    rows[y] = const_cast<png_bytep>(bitmap.bgra.data() + size_t{y} * bitmap.width * 4);
  }
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string PngHeaderOnly(uint32_t width, uint32_t height) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
      },
      nullptr);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // A little data that is no picture, then the end.
  const png_byte idat[] = {0x78, 0x9C, 0x01, 0x02, 0x03};
  png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), idat, sizeof idat);
  png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string Gif(uint16_t width, uint16_t height, const std::vector<uint8_t>& indices,
                const std::vector<std::array<uint8_t, 3>>& palette, int transparent, bool interlaced) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out,
                              [](GifFileType* g, const GifByteType* data, int n) {
                                static_cast<std::string*>(g->UserData)->append(reinterpret_cast<const char*>(data),
                                                                               static_cast<size_t>(n));
                                return n;
                              },
                              &error);
  const int colors = std::max(2, static_cast<int>(std::bit_ceil(palette.size())));
  std::vector<GifColorType> table(static_cast<size_t>(colors), GifColorType{0, 0, 0});
  for (size_t i = 0; i < palette.size(); ++i) table[i] = {palette[i][0], palette[i][1], palette[i][2]};
  ColorMapObject* map = GifMakeMapObject(colors, table.data());
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, width, height, 8, 0, map);
  if (transparent >= 0) {
    GraphicsControlBlock control{};
    control.TransparentColor = transparent;
    GifByteType block[4];
    const size_t n = EGifGCBToExtension(&control, block);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), block);
  }
  EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr);
  std::vector<GifPixelType> line(width);
  const auto put = [&](uint32_t y) {
    std::copy_n(indices.begin() + static_cast<long>(size_t{y} * width), width, line.begin());
    EGifPutLine(gif, line.data(), width);
  };
  if (interlaced) {
    const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (uint32_t y = start[pass]; y < height; y += step[pass]) put(y);
    }
  } else {
    for (uint32_t y = 0; y < height; ++y) put(y);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

std::string WebP(const Bitmap& bitmap, std::string_view exif) {
  uint8_t* encoded = nullptr;
  const size_t size = WebPEncodeLosslessBGRA(bitmap.bgra.data(), static_cast<int>(bitmap.width),
                                             static_cast<int>(bitmap.height), static_cast<int>(bitmap.width * 4),
                                             &encoded);
  std::string simple(reinterpret_cast<const char*>(encoded), size);
  WebPFree(encoded);
  if (exif.empty()) return simple;

  // RIFF, an extended header (VP8X) with the alpha and EXIF flags, the
  // lossless image chunk, then the EXIF chunk.
  std::string body = "WEBP";
  body += "VP8X";
  Put32(body, 10);
  body += static_cast<char>(0x10 | 0x08);
  body += std::string(3, '\0');
  const auto put24 = [&](uint32_t v) {
    for (int i = 0; i < 3; ++i) body += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put24(bitmap.width - 1);
  put24(bitmap.height - 1);
  body += simple.substr(12);
  body += "EXIF";
  Put32(body, static_cast<uint32_t>(exif.size()));
  body += exif;
  if (exif.size() % 2 != 0) body += '\0';
  std::string out = "RIFF";
  Put32(out, static_cast<uint32_t>(body.size()));
  return out + body;
}

std::string Tiff(const Bitmap& bitmap, bool alpha, int orientation, const std::string& folder) {
  const std::string path = folder + "/sample.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  const uint16_t samples = alpha ? 4 : 3;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, bitmap.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, bitmap.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3);  // several strips
  if (alpha) {
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  if (orientation != 0) TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
  std::vector<uint8_t> row(size_t{bitmap.width} * samples);
  for (uint32_t y = 0; y < bitmap.height; ++y) {
    for (uint32_t x = 0; x < bitmap.width; ++x) {
      const Bgra p = PixelAt(bitmap, x, y);
      uint8_t* out = row.data() + size_t{x} * samples;
      out[0] = p[2], out[1] = p[1], out[2] = p[0];
      if (alpha) out[3] = p[3];
    }
    TIFFWriteScanline(tif, row.data(), y, 0);
  }
  TIFFClose(tif);
  return ReadAllOf(path);
}

std::string Heif(const Bitmap& bitmap, int orientation) {
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code != heif_error_Ok) {
    heif_context_free(context);
    return {};
  }
  heif_image* image = nullptr;
  heif_image_create(static_cast<int>(bitmap.width), static_cast<int>(bitmap.height), heif_colorspace_RGB,
                    heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, static_cast<int>(bitmap.width),
                       static_cast<int>(bitmap.height), 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (uint32_t y = 0; y < bitmap.height; ++y) {
    for (uint32_t x = 0; x < bitmap.width; ++x) {
      const Bgra p = PixelAt(bitmap, x, y);
      uint8_t* out = plane + size_t{y} * static_cast<size_t>(stride) + size_t{x} * 3;
      out[0] = p[2], out[1] = p[1], out[2] = p[0];
    }
  }
  heif_encoder_set_lossy_quality(encoder, 90);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = static_cast<heif_orientation>(orientation);
  const bool encoded = heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok;
  heif_encoding_options_free(options);
  heif_encoder_release(encoder);
  heif_image_release(image);
  std::string out;
  heif_writer writer{};
  writer.writer_api_version = 1;
  writer.write = [](heif_context*, const void* data, size_t size, void* user) {
    static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
  };
  if (encoded) heif_context_write(context, &writer, &out);
  heif_context_free(context);
  return out;
}

std::string Bmp(const Bitmap& bitmap, const BmpLayout& layout) {
  const uint32_t bpp = layout.bitsPerPixel;
  const uint32_t stride = (bitmap.width * bpp + 31) / 32 * 4;
  const bool trailingMasks = layout.bitFields && layout.headerSize == 40;
  const uint32_t offset = 14 + layout.headerSize + (trailingMasks ? 12 : 0);
  std::string out = "BM";
  Put32(out, offset + stride * bitmap.height);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, layout.headerSize);
  Put32(out, bitmap.width);
  Put32(out, layout.topDown ? static_cast<uint32_t>(-static_cast<int32_t>(bitmap.height)) : bitmap.height);
  Put16(out, 1);
  Put16(out, bpp);
  Put32(out, layout.bitFields ? 3 : 0);
  Put32(out, stride * bitmap.height);
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  if (layout.headerSize > 40) {
    for (uint32_t m : layout.masks) Put32(out, m);
    Put32(out, 0x73524742);  // 'sRGB'
    out.resize(14 + layout.headerSize, '\0');
  } else if (trailingMasks) {
    for (int i = 0; i < 3; ++i) Put32(out, layout.masks[static_cast<size_t>(i)]);
  }
  const auto pack = [&](const Bgra& p) {
    uint32_t v = 0;
    const uint8_t channel[4] = {p[2], p[1], p[0], p[3]};
    for (size_t i = 0; i < 4; ++i) {
      const uint32_t m = layout.masks[i];
      if (m == 0) continue;
      const int bits = std::popcount(m), shift = std::countr_zero(m);
      v |= (static_cast<uint32_t>(channel[i]) >> (8 - bits)) << shift;
    }
    return v;
  };
  for (uint32_t r = 0; r < bitmap.height; ++r) {
    const uint32_t y = layout.topDown ? r : bitmap.height - 1 - r;
    std::string row;
    for (uint32_t x = 0; x < bitmap.width; ++x) {
      const Bgra p = PixelAt(bitmap, x, y);
      if (layout.bitFields) {
        bpp == 16 ? Put16(row, pack(p)) : Put32(row, pack(p));
      } else {
        row.append(reinterpret_cast<const char*>(p.data()), bpp / 8);
      }
    }
    row.resize(stride, '\0');
    out += row;
  }
  return out;
}

std::string Bmp8(uint32_t width, uint32_t height, const std::vector<uint8_t>& indices,
                 const std::vector<Bgra>& palette, bool rle) {
  const uint32_t stride = (width + 3) / 4 * 4;
  std::string pixels;
  for (uint32_t r = 0; r < height; ++r) {
    const uint8_t* row = indices.data() + size_t{height - 1 - r} * width;  // bottom row first
    if (!rle) {
      pixels.append(reinterpret_cast<const char*>(row), width);
      pixels.resize(pixels.size() + (stride - width), '\0');
      continue;
    }
    for (uint32_t x = 0; x < width;) {
      uint32_t run = 1;
      while (x + run < width && run < 255 && row[x + run] == row[x]) ++run;
      pixels += static_cast<char>(run);
      pixels += static_cast<char>(row[x]);
      x += run;
    }
    pixels += std::string("\0\0", 2);  // end of line
  }
  if (rle) pixels += std::string("\0\1", 2);  // end of picture
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size()) * 4;
  std::string out = "BM";
  Put32(out, offset + static_cast<uint32_t>(pixels.size()));
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, width);
  Put32(out, height);
  Put16(out, 1);
  Put16(out, 8);
  Put32(out, rle ? 1 : 0);
  Put32(out, static_cast<uint32_t>(pixels.size()));
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, static_cast<uint32_t>(palette.size()));
  Put32(out, 0);
  for (const Bgra& c : palette) out.append(reinterpret_cast<const char*>(c.data()), 4);
  return out + pixels;
}

}  // namespace VirelantDesktop::testing::images
