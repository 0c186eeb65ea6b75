#include "modules/attach/image_processing.h"

#include "modules/attach/image_format.h"
#include "modules/attach/image_reader.h"
#include "modules/attach/image_source.h"
#include "modules/attach/orientation_transform.h"
#include "platform/atomic_file.h"
#include "platform/base64.h"
#include "platform/confined_tree.h"

namespace VirelantDesktop::attach {

const ImageReader* ReaderFor(SourceFormat format) noexcept {
  switch (format) {
    case SourceFormat::Jpeg: return &kJpegReader;
    case SourceFormat::Png: return &kPngReader;
    case SourceFormat::Gif: return &kGifReader;
    case SourceFormat::WebP: return &kWebPReader;
    case SourceFormat::Heif: return &kHeifReader;
    case SourceFormat::Tiff: return &kTiffReader;
    case SourceFormat::Bmp: return &kBmpReader;
    case SourceFormat::Unknown: break;
  }
  return nullptr;
}

namespace {

constexpr std::string_view kThumbnailPrefix = "data:image/jpeg;base64,";

const ImageReader* ReaderOf(ImageSource& source) { return ReaderFor(SniffFormat(source.Peek(kSniffBytes))); }

std::optional<StoredInfo> ProbeSource(ImageSource& source) {
  const ImageReader* reader = ReaderOf(source);
  if (reader == nullptr) return std::nullopt;
  return reader->probe(source);
}

ProbedSize ToProbedSize(const std::optional<StoredInfo>& info) {
  if (!info) return {};
  return SwapsSides(info->orientation) ? ProbedSize{true, info->height, info->width}
                                       : ProbedSize{true, info->width, info->height};
}

std::optional<Bitmap> DecodeSource(ImageSource& source, uint32_t maxSide) {
  const ImageReader* reader = ReaderOf(source);
  if (reader == nullptr) return std::nullopt;
  auto picture = reader->decode(source, maxSide);
  if (!picture || picture->bitmap.width == 0 || picture->bitmap.height == 0) return std::nullopt;
  return ApplyOrientation(std::move(picture->bitmap), picture->orientation);
}

std::optional<ImageSource> Open(const std::string& path) { return ImageSource::OpenFile(path); }

}  // namespace

int ReadOrientationFromMemory(std::string_view bytes) {
  try {
    auto source = ImageSource::FromMemory(bytes);
    const auto info = ProbeSource(source);
    return info ? info->orientation : 1;
  } catch (...) {
    return 1;
  }
}

int ReadOrientation(const std::string& path) {
  try {
    auto source = Open(path);
    if (!source) return 1;
    const auto info = ProbeSource(*source);
    return info ? info->orientation : 1;
  } catch (...) {
    return 1;
  }
}

ProbedSize ProbeImageSizeFromMemory(std::string_view bytes) {
  try {
    auto source = ImageSource::FromMemory(bytes);
    return ToProbedSize(ProbeSource(source));
  } catch (...) {
    return {};
  }
}

ProbedSize ProbeImageSize(const std::string& path) {
  try {
    auto source = Open(path);
    if (!source) return {};
    return ToProbedSize(ProbeSource(*source));
  } catch (...) {
    return {};
  }
}

namespace {

// Decodes the source `open` gives (nullopt: none), every failure a nullopt
// with its reason in `why` when asked for.
template <class OpenSource>
std::optional<Bitmap> DecodeGuarded(OpenSource&& open, uint32_t maxSide, DecodeFailure* why) {
  DecodeFailure failure = DecodeFailure::Unreadable;
  std::optional<Bitmap> bitmap;
  try {
    if (auto source = open()) bitmap = DecodeSource(*source, maxSide);
  } catch (const PictureTooComplex&) {
    failure = DecodeFailure::TooComplex;
  } catch (...) {
  }
  if (!bitmap && why != nullptr) *why = failure;
  return bitmap;
}

}  // namespace

std::optional<Bitmap> DecodeOrientedFromMemory(std::string_view bytes, uint32_t maxSide, DecodeFailure* why) {
  return DecodeGuarded([&] { return std::optional<ImageSource>(ImageSource::FromMemory(bytes)); }, maxSide, why);
}

std::optional<Bitmap> DecodeOriented(const std::string& path, uint32_t maxSide, DecodeFailure* why) {
  return DecodeGuarded([&] { return Open(path); }, maxSide, why);
}

bool IsOpaque(const Bitmap& bitmap) {
  if (bitmap.width == 0 || bitmap.height == 0) return true;
  const size_t size = size_t{bitmap.width} * bitmap.height * 4;
  if (bitmap.bgra.size() != size) return false;  // not a bitmap we can read
  for (size_t i = 3; i < size; i += 4) {
    if (bitmap.bgra[i] != 255) return false;
  }
  return true;
}

bool EncodeImageFileAt(const Bitmap& bitmap, ImageFormat format, float quality, bool opaque,
                       const platform::UniqueFd& folder, const std::string& name) {
  try {
    const auto encoded = EncodeImage(bitmap, format, quality, opaque);
    if (!encoded) return false;
    const platform::AtomicWriteResult written = platform::WriteFileAtomicAt(folder, name, *encoded);
    if (written.ok()) return true;
    // Only a failed flush of the folder comes after the rename.
    if (written.failedStage == platform::AtomicWriteStage::SyncFolder) platform::RemoveEntryAt(folder, name);
    return false;
  } catch (...) {
    return false;
  }
}

bool EncodeImageFile(const Bitmap& bitmap, ImageFormat format, float quality, bool opaque,
                     const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const platform::UniqueFd folder = platform::OpenFolderNoFollow(folderPath);
  return folder && EncodeImageFileAt(bitmap, format, quality, opaque, folder, path.substr(slash + 1));
}

std::string MakeThumbnail(const std::string& path) {
  try {
    const auto bitmap = DecodeOriented(path, kThumbnailMaxSide);
    if (!bitmap) return {};
    const auto jpeg = EncodeImage(*bitmap, ImageFormat::Jpeg, kThumbnailJpegQuality, /*opaque=*/true);
    if (!jpeg) return {};
    return std::string(kThumbnailPrefix) + platform::Base64Encode(*jpeg);
  } catch (...) {
    return {};
  }
}

}  // namespace VirelantDesktop::attach
