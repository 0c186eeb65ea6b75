#include "modules/attach/bmp_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <vector>

namespace VirelantDesktop::attach {
namespace {

constexpr size_t kFileHeaderSize = 14;
enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

uint32_t U16(std::string_view f, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(f[at]) | static_cast<unsigned char>(f[at + 1]) << 8);
}
uint32_t U32(std::string_view f, size_t at) { return U16(f, at) | U16(f, at + 2) << 16; }

// One colour channel of a bit-field pixel, widened or narrowed to 8 bits.
struct Field {
  uint32_t mask = 0;
  int shift = 0, bits = 0;

  explicit Field(uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    bits = std::bit_width(m >> shift);
  }
  uint8_t Get(uint32_t pixel, uint8_t absent) const {
    if (mask == 0) return absent;
    const uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    const uint32_t max = (1u << bits) - 1;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

enum class Kind { Palette, Rle8, Rle4, Rgb24, Plain32, Fields };

struct Layout {
  uint32_t width = 0, height = 0;
  bool topDown = false;
  uint32_t bitsPerPixel = 0;
  Kind kind = Kind::Palette;
  std::array<uint8_t, 256 * 4> palette{};  // BGRA
  uint32_t paletteSize = 0;
  Field red, green, blue, alpha;
  uint64_t pixelOffset = 0, stride = 0;
};

std::optional<Layout> ParseLayout(std::string_view f) {
  if (f.size() < kFileHeaderSize + 4 || f[0] != 'B' || f[1] != 'M') return std::nullopt;
  Layout out;
  out.pixelOffset = U32(f, 10);
  const uint32_t headerSize = U32(f, 14);
  const bool core = headerSize == 12, os2 = headerSize == 16 || headerSize == 64;
  if (!core && !os2 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124) {
    return std::nullopt;
  }
  if (f.size() < kFileHeaderSize + headerSize) return std::nullopt;

  uint32_t compression = kRgb, colorsUsed = 0;
  size_t entrySize = 4;
  if (core) {
    out.width = U16(f, 18);
    out.height = U16(f, 20);
    out.bitsPerPixel = U16(f, 24);
    entrySize = 3;
  } else {
    const auto width = static_cast<int32_t>(U32(f, 18));
    const auto height = static_cast<int32_t>(U32(f, 22));
    if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
    out.width = static_cast<uint32_t>(width);
    out.topDown = height < 0;
    out.height = static_cast<uint32_t>(height < 0 ? -height : height);
    out.bitsPerPixel = U16(f, 28);
    if (headerSize >= 20) compression = U32(f, 30);
    if (headerSize >= 36) colorsUsed = U32(f, 46);
    // OS/2 numbers 3 and 4 mean Huffman and RLE24, which we do not read.
    if (os2 && compression > kRle4) return std::nullopt;
  }
  if (out.width == 0 || out.height == 0) return std::nullopt;

  size_t paletteAt = kFileHeaderSize + headerSize;
  if (compression == kBitFields || compression == kAlphaBitFields) {
    // The masks sit at the end of a 40-byte header, or inside a longer one
    // (the alpha mask from 56 bytes on).
    const size_t masks = compression == kAlphaBitFields ? 4 : 3;
    constexpr size_t kMaskAt = kFileHeaderSize + 40;
    if (headerSize == 40) {
      paletteAt += masks * 4;
      if (f.size() < paletteAt) return std::nullopt;
    }
    out.red = Field(U32(f, kMaskAt));
    out.green = Field(U32(f, kMaskAt + 4));
    out.blue = Field(U32(f, kMaskAt + 8));
    if ((headerSize == 40 && masks == 4) || headerSize >= 56) out.alpha = Field(U32(f, kMaskAt + 12));
  }

  const uint32_t bpp = out.bitsPerPixel;
  const bool topDownAllowed = compression != kRle8 && compression != kRle4;
  if (out.topDown && !topDownAllowed) return std::nullopt;
  if ((bpp == 1 || bpp == 4 || bpp == 8) && compression == kRgb) {
    out.kind = Kind::Palette;
  } else if (bpp == 8 && compression == kRle8) {
    out.kind = Kind::Rle8;
  } else if (bpp == 4 && compression == kRle4) {
    out.kind = Kind::Rle4;
  } else if (bpp == 24 && compression == kRgb) {
    out.kind = Kind::Rgb24;
  } else if (bpp == 32 && compression == kRgb) {
    out.kind = Kind::Plain32;
  } else if (bpp == 16 && compression == kRgb) {
    out.kind = Kind::Fields;
    out.red = Field(0x7C00), out.green = Field(0x03E0), out.blue = Field(0x001F);
  } else if ((bpp == 16 || bpp == 32) && (compression == kBitFields || compression == kAlphaBitFields)) {
    out.kind = Kind::Fields;
    const uint32_t all = out.red.mask | out.green.mask | out.blue.mask | out.alpha.mask;
    if (bpp == 16 && (all & 0xFFFF0000u) != 0) return std::nullopt;
  } else {
    return std::nullopt;
  }

  if (bpp <= 8) {
    const uint32_t most = 1u << bpp;
    out.paletteSize = colorsUsed == 0 || colorsUsed > most ? most : colorsUsed;
    if (f.size() < paletteAt || (f.size() - paletteAt) / entrySize < out.paletteSize) return std::nullopt;
    for (uint32_t i = 0; i < out.paletteSize; ++i) {
      const size_t at = paletteAt + i * entrySize;
      out.palette[i * 4 + 0] = static_cast<uint8_t>(f[at]);
      out.palette[i * 4 + 1] = static_cast<uint8_t>(f[at + 1]);
      out.palette[i * 4 + 2] = static_cast<uint8_t>(f[at + 2]);
      out.palette[i * 4 + 3] = 255;
    }
  }
  out.stride = (uint64_t{out.width} * bpp + 31) / 32 * 4;
  return out;
}

void PutIndex(const Layout& layout, uint32_t index, uint8_t* out) {
  if (index < layout.paletteSize) {
    std::copy_n(&layout.palette[index * 4], 4, out);
  } else {
    out[0] = out[1] = out[2] = 0;
    out[3] = 255;
  }
}

// One stored row of an uncompressed picture to BGRA.
void ConvertRow(const Layout& layout, const uint8_t* in, uint8_t* out) {
  const uint32_t w = layout.width;
  switch (layout.kind) {
    case Kind::Palette: {
      const uint32_t bpp = layout.bitsPerPixel;
      const uint32_t perByte = 8 / bpp, mask = (1u << bpp) - 1;
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t shift = (perByte - 1 - x % perByte) * bpp;
        PutIndex(layout, (in[x / perByte] >> shift) & mask, out + size_t{x} * 4);
      }
      break;
    }
    case Kind::Rgb24:
      for (uint32_t x = 0; x < w; ++x, in += 3, out += 4) {
        out[0] = in[0], out[1] = in[1], out[2] = in[2], out[3] = 255;
      }
      break;
    case Kind::Plain32:
      for (uint32_t x = 0; x < w; ++x, in += 4, out += 4) {
        out[0] = in[0], out[1] = in[1], out[2] = in[2], out[3] = 255;
      }
      break;
    case Kind::Fields: {
      const bool wide = layout.bitsPerPixel == 32;
      for (uint32_t x = 0; x < w; ++x, out += 4) {
        uint32_t px = static_cast<uint32_t>(in[0] | in[1] << 8);
        if (wide) px |= static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
        in += wide ? 4 : 2;
        out[0] = layout.blue.Get(px, 0);
        out[1] = layout.green.Get(px, 0);
        out[2] = layout.red.Get(px, 0);
        out[3] = layout.alpha.Get(px, 255);
      }
      break;
    }
    case Kind::Rle8:
    case Kind::Rle4:
      break;  // decoded by DecodeRle
  }
}

// Fills `indices` (width*height, bottom row first) from RLE8/RLE4 data.
// False when the data ends before the end-of-picture mark and the last row.
bool DecodeRle(const Layout& layout, std::string_view data, std::vector<uint8_t>& indices) {
  const bool four = layout.kind == Kind::Rle4;
  const uint64_t w = layout.width, h = layout.height;
  uint64_t x = 0, y = 0;
  size_t pos = 0;
  const auto put = [&](uint32_t index) {
    if (x < w && y < h) indices[y * w + x] = static_cast<uint8_t>(index);
    ++x;
  };
  while (y < h) {
    if (data.size() - pos < 2) return false;
    const auto count = static_cast<unsigned char>(data[pos]);
    const auto value = static_cast<unsigned char>(data[pos + 1]);
    pos += 2;
    if (count > 0) {
      for (uint32_t i = 0; i < count; ++i) put(four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
    } else if (value == 0) {
      x = 0, ++y;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (data.size() - pos < 2) return false;
      x += static_cast<unsigned char>(data[pos]);
      y += static_cast<unsigned char>(data[pos + 1]);
      pos += 2;
    } else {
      const size_t bytes = four ? (value + 1u) / 2 : value;
      if (data.size() - pos < bytes) return false;
      for (uint32_t i = 0; i < value; ++i) {
        const auto byte = static_cast<unsigned char>(data[pos + (four ? i / 2 : i)]);
        put(four ? (i % 2 == 0 ? byte >> 4 : byte & 15) : byte);
      }
      pos += bytes + bytes % 2;  // runs are padded to 16 bits
      pos = std::min(pos, data.size());
    }
  }
  return true;
}

// Whether every pixel of a bit-field picture has the alpha value 0. `pixels`
// holds all rows (checked by the caller).
bool AlphaAllZero(const Layout& layout, const uint8_t* pixels) {
  const bool wide = layout.bitsPerPixel == 32;
  for (uint64_t y = 0; y < layout.height; ++y) {
    const uint8_t* in = pixels + y * layout.stride;
    for (uint32_t x = 0; x < layout.width; ++x, in += wide ? 4 : 2) {
      uint32_t px = static_cast<uint32_t>(in[0] | in[1] << 8);
      if (wide) px |= static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
      if ((px & layout.alpha.mask) != 0) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<PixelSize> ProbeBmp(std::string_view file) noexcept {
  const auto layout = ParseLayout(file);
  if (!layout) return std::nullopt;
  return PixelSize{layout->width, layout->height};
}

std::optional<Bitmap> DecodeBmp(std::string_view file, uint32_t maxSide) {
  auto parsed = ParseLayout(file);
  if (!parsed || parsed->pixelOffset > file.size()) return std::nullopt;
  Layout& layout = *parsed;
  const uint64_t w = layout.width, h = layout.height;
  if (w * h > kMaxDecodePixels) return std::nullopt;
  const bool rle = layout.kind == Kind::Rle8 || layout.kind == Kind::Rle4;
  if (!rle && (file.size() - layout.pixelOffset) / layout.stride < h) return std::nullopt;

  auto scaler = AreaScaler::Create({layout.width, layout.height}, ScaledSize(layout.width, layout.height, maxSide));
  if (!scaler) return std::nullopt;
  std::vector<uint8_t> row(w * 4);
  const auto* pixels = reinterpret_cast<const uint8_t*>(file.data()) + layout.pixelOffset;
  // Screen captures and clipboard bitmaps often declare an alpha mask and
  // leave every alpha value 0; taken at its word, such a picture would be
  // wholly transparent (blank once drawn over white).
  if (layout.kind == Kind::Fields && layout.alpha.mask != 0 && AlphaAllZero(layout, pixels)) layout.alpha = Field();
  if (rle) {
    std::vector<uint8_t> indices(w * h, 0);
    if (!DecodeRle(layout, file.substr(layout.pixelOffset), indices)) return std::nullopt;
    for (uint64_t y = 0; y < h; ++y) {
      const uint8_t* stored = indices.data() + (h - 1 - y) * w;
      for (uint64_t x = 0; x < w; ++x) PutIndex(layout, stored[x], row.data() + x * 4);
      scaler->PushRow(row.data());
    }
  } else {
    for (uint64_t y = 0; y < h; ++y) {
      const uint64_t stored = layout.topDown ? y : h - 1 - y;
      ConvertRow(layout, pixels + stored * layout.stride, row.data());
      scaler->PushRow(row.data());
    }
  }
  return scaler->Take();
}

}  // namespace VirelantDesktop::attach
