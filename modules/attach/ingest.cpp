#include "modules/attach/ingest.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "modules/attach/file_name.h"
#include "modules/attach/image_processing.h"
#include "modules/attach/staging_ops.h"
#include "modules/attach/staging_root.h"
#include "platform/confined_file.h"
#include "platform/confined_tree.h"
#include "platform/random_id.h"
#include "platform/win32_error.h"

namespace VirelantDesktop::attach {
namespace {

using platform::FileOpResult;
using platform::FileOpStatus;
using platform::UniqueFd;

// A folder made in the staging root for one item; removed with all it holds
// when the guard ends, unless the item was staged and Keep() was called.
class StageFolder {
 public:
  StageFolder(UniqueFd root, const std::string& rootPath, std::string name)
      : root_(std::move(root)), name_(std::move(name)), path_(rootPath + "/" + name_) {
    fd_ = platform::MakeFolderAt(root_, name_);
  }
  ~StageFolder() {
    if (fd_ && !keep_) platform::RemoveTreeAt(root_, name_);
  }
  StageFolder(const StageFolder&) = delete;
  StageFolder& operator=(const StageFolder&) = delete;

  bool Made() const noexcept { return fd_.IsValid(); }
  const UniqueFd& Fd() const noexcept { return fd_; }
  std::string PathOf(const std::string& file) const { return path_ + "/" + file; }
  void Keep() noexcept { keep_ = true; }

  // The staged file `file`, read through the open folder: nothing outside it
  // is reached even when a folder above was replaced by a link meanwhile.
  uint64_t SizeOf(const std::string& file) const {
    const UniqueFd staged = platform::OpenFileBeneath(fd_, file);
    return staged ? platform::InspectSourceFile(platform::PathOfOpenFile(staged)).size : 0;
  }
  std::string ThumbnailOf(const std::string& file) const {
    const UniqueFd staged = platform::OpenFileBeneath(fd_, file);
    return staged ? MakeThumbnail(platform::PathOfOpenFile(staged)) : std::string();
  }
  ProbedSize ProbeOf(const std::string& file) const {
    const UniqueFd staged = platform::OpenFileBeneath(fd_, file);
    return staged ? ProbeImageSize(platform::PathOfOpenFile(staged)) : ProbedSize{};
  }
  std::optional<Bitmap> DecodeOf(const std::string& file, uint32_t maxSide, DecodeFailure* why) const {
    const UniqueFd staged = platform::OpenFileBeneath(fd_, file);
    return staged ? DecodeOriented(platform::PathOfOpenFile(staged), maxSide, why) : std::nullopt;
  }

 private:
  UniqueFd root_;
  UniqueFd fd_;
  std::string name_;
  std::string path_;
  bool keep_ = false;
};

// A fresh folder "<prefix><GUID>" in the staging root; null when the root
// cannot be opened or the folder not made.
std::unique_ptr<StageFolder> MakeStageFolder(const std::string& staging, std::string_view prefix) {
  UniqueFd root = platform::OpenFolderNoFollow(staging);
  if (!root) return nullptr;
  std::string guid;
  try {
    guid = platform::NewGuidString();
  } catch (const std::exception&) {  // no random source: no folder name that cannot collide
    return nullptr;
  }
  auto folder = std::make_unique<StageFolder>(std::move(root), staging, std::string(prefix) + guid);
  if (!folder->Made()) return nullptr;
  return folder;
}

// The item code for a picture that could not be decoded.
const char* DecodeFailureCode(DecodeFailure why) {
  return why == DecodeFailure::TooComplex ? kErrDecodeFailed : kErrUnsupported;
}

bool IsDiskFull(int error) { return platform::Win32ErrorFromErrno(error) == platform::kErrorDiskFull; }

// The item code for a failed write into the staging area.
IngestResult WriteFailure(const FileOpResult& op) {
  if (op.status == FileOpStatus::TooLarge) return IngestResult::Failed(kErrTooLarge);
  return IngestResult::Failed(IsDiskFull(op.error) ? kErrDiskFull : kErrCopyFailed);
}

struct Source {
  std::string path;
  uint64_t size = 0;
  std::string extension;  // lower case
  bool image = false;
};

// The source copied unchanged as `name`.
IngestResult CopyIntoStage(const Source& source, StageFolder& folder, const std::string& name, uint32_t width,
                           uint32_t height) {
  const uint64_t limit = source.image ? kMaxStagedImageBytes : kMaxStagedFileBytes;
  if (source.image && source.size > limit) return IngestResult::Failed(kErrTooLarge);
  const FileOpResult copy = platform::CopyFileInto(source.path, folder.Fd(), name, limit);
  if (!copy.ok()) return WriteFailure(copy);

  IngestResult result;
  result.ok = true;
  result.path = folder.PathOf(name);
  result.name = name;
  result.size = copy.size;
  result.mime = MimeForExtension(source.extension);
  result.width = width;
  result.height = height;
  if (source.image) result.thumb = folder.ThumbnailOf(name);
  return result;
}

// The source decoded upright, scaled to 2048 and written as PNG (a PNG
// source) or JPEG (any other).
IngestResult ReEncodeIntoStage(const Source& source, StageFolder& folder, const std::string& cleanedName) {
  ImageFormat format = source.extension == "png" ? ImageFormat::Png : ImageFormat::Jpeg;
  DecodeFailure why = DecodeFailure::Unreadable;
  std::optional<Bitmap> bitmap = DecodeOriented(source.path, kStagingMaxSide, &why);
  if (!bitmap) return IngestResult::Failed(DecodeFailureCode(why));

  const std::string stem(StemOf(cleanedName));
  const bool opaque = format == ImageFormat::Jpeg || IsOpaque(*bitmap);
  std::string name = SanitizeFileName(stem + (format == ImageFormat::Png ? ".png" : ".jpg"));
  if (!EncodeImageFileAt(*bitmap, format, kStagingJpegQuality, opaque, folder.Fd(), name)) {
    return IngestResult::Failed(kErrCopyFailed);
  }
  uint64_t size = folder.SizeOf(name);
  if (size > kMaxStagedImageBytes && format == ImageFormat::Png && opaque) {
    // Nothing is lost by JPEG when every pixel is opaque; noisy photographs
    // saved as PNG can exceed the limit where a JPEG stays far below it.
    platform::RemoveEntryAt(folder.Fd(), name);
    format = ImageFormat::Jpeg;
    name = SanitizeFileName(stem + ".jpg");
    if (!EncodeImageFileAt(*bitmap, format, kStagingJpegQuality, /*opaque=*/true, folder.Fd(), name)) {
      return IngestResult::Failed(kErrCopyFailed);
    }
    size = folder.SizeOf(name);
  }
  if (size > kMaxStagedImageBytes) return IngestResult::Failed(kErrTooLarge);

  IngestResult result;
  result.ok = true;
  result.path = folder.PathOf(name);
  result.name = name;
  result.size = size;
  result.mime = format == ImageFormat::Png ? "image/png" : "image/jpeg";
  result.width = bitmap->width;
  result.height = bitmap->height;
  bitmap.reset();  // the thumbnail decodes the written file again
  result.thumb = folder.ThumbnailOf(name);
  return result;
}

IngestResult StageImage(const Source& source, StageFolder& folder, const std::string& cleanedName) {
  // Headers only: the pixel limit holds before anything is decoded.
  const ProbedSize probed = ProbeImageSize(source.path);
  if (!probed.ok) {
    // WebP decoding may be missing; such a file is still a valid attachment.
    if (source.extension == "webp") return CopyIntoStage(source, folder, cleanedName, 0, 0);
    return IngestResult::Failed(kErrUnsupported);
  }
  if (uint64_t{probed.width} * probed.height > kMaxImagePixels) return IngestResult::Failed(kErrTooLarge);
  const bool keep = source.extension == "gif" || source.extension == "webp" ||
                    (source.extension == "png" && std::max(probed.width, probed.height) <= kKeptPngMaxSide &&
                     source.size <= kKeptPngMaxBytes);
  if (keep) return CopyIntoStage(source, folder, cleanedName, probed.width, probed.height);
  return ReEncodeIntoStage(source, folder, cleanedName);
}

// `alreadyStaged`: bytes of the source that lie inside the staging area
// already (a clipboard image's temporary file), so the budget does not count
// them twice.
IngestResult Ingest(const std::string& path, IngestKind kind, uint64_t alreadyStaged) {
  if (path.find('\0') != std::string::npos) return IngestResult::Failed(kErrNotFound);
  const platform::SourceFileInfo info = platform::InspectSourceFile(path);
  // Only regular files: a FIFO or device would block the copy or never end.
  if (info.kind != platform::SourceKind::File) return IngestResult::Failed(kErrNotFound);

  Source source;
  source.path = path;
  source.size = info.size;
  const std::string_view sourceName = SourceNameOf(path);
  source.extension = ExtensionOf(sourceName);
  source.image = IsImageExtension(source.extension);

  if (kind == IngestKind::Media && !source.image) return IngestResult::Failed(kErrUnsupported);
  if (kind == IngestKind::File && source.size > kMaxFileSourceBytes) return IngestResult::Failed(kErrTooLarge);
  if (source.image && source.size > kMaxImageSourceBytes) return IngestResult::Failed(kErrTooLarge);

  const std::string staging = StagingRoot();
  if (staging.empty()) return IngestResult::Failed(kErrCopyFailed);
  const uint64_t used = StagingSize(staging);
  const uint64_t others = used > alreadyStaged ? used - alreadyStaged : 0;
  if (others + source.size > kMaxStagingBytes) return IngestResult::Failed(kErrDiskFull);

  std::unique_ptr<StageFolder> folder = MakeStageFolder(staging, "");
  if (!folder) return IngestResult::Failed(kErrCopyFailed);
  const std::string cleanedName = SanitizeFileName(sourceName);
  IngestResult result = source.image ? StageImage(source, *folder, cleanedName)
                                     : CopyIntoStage(source, *folder, cleanedName, 0, 0);
  if (result.ok) folder->Keep();
  return result;
}

}  // namespace

IngestResult IngestFile(const std::string& source, IngestKind kind) { return Ingest(source, kind, 0); }

IngestResult IngestLocalPath(const std::string& source) {
  if (!IsLocalAbsolutePath(source)) return IngestResult::Failed(kErrNotFound);
  return IngestFile(source, IngestKind::File);
}

IngestResult StageClipboardImage(std::string_view bytes, std::string_view extension, std::string_view stem) {
  if ((extension != "png" && extension != "bmp") || bytes.empty()) return IngestResult::Failed(kErrUnsupported);
  if (bytes.size() > kMaxClipboardImageBytes) return IngestResult::Failed(kErrTooLarge);
  const std::string staging = StagingRoot();
  if (staging.empty()) return IngestResult::Failed(kErrCopyFailed);
  if (StagingSize(staging) + bytes.size() > kMaxStagingBytes) return IngestResult::Failed(kErrDiskFull);

  // Removed again in every case when `folder` goes out of scope.
  std::unique_ptr<StageFolder> folder = MakeStageFolder(staging, kClipboardStagePrefix);
  if (!folder) return IngestResult::Failed(kErrCopyFailed);
  std::string name = SanitizeFileName(std::string(stem) + "." + std::string(extension));
  const FileOpResult written = platform::WriteNewFileAt(folder->Fd(), name, bytes, kClipboardWritePiece);
  if (written.status == FileOpStatus::CreateFailed) return IngestResult::Failed(kErrCopyFailed);
  if (!written.ok()) return WriteFailure(written);

  if (extension == "bmp") {
    const ProbedSize probed = folder->ProbeOf(name);
    if (!probed.ok) return IngestResult::Failed(kErrUnsupported);
    if (uint64_t{probed.width} * probed.height > kMaxImagePixels) return IngestResult::Failed(kErrTooLarge);
    DecodeFailure why = DecodeFailure::Unreadable;
    std::optional<Bitmap> bitmap = folder->DecodeOf(name, kStagingMaxSide, &why);
    if (!bitmap) return IngestResult::Failed(DecodeFailureCode(why));
    // Screen captures carry no meaningful alpha: always a 24-bit PNG.
    const std::string pngName = SanitizeFileName(std::string(stem) + ".png");
    if (!EncodeImageFileAt(*bitmap, ImageFormat::Png, kStagingJpegQuality, /*opaque=*/true, folder->Fd(), pngName)) {
      return IngestResult::Failed(kErrCopyFailed);
    }
    if (pngName != name) platform::RemoveEntryAt(folder->Fd(), name);
    name = pngName;
  }
  const std::string path = folder->PathOf(name);
  return Ingest(path, IngestKind::Media, folder->SizeOf(name));
}

}  // namespace VirelantDesktop::attach
