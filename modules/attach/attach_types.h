// The rules of the attachment staging area that need no files: the limits,
// the image extensions, the MIME type table, and the shape of the paths the
// pipeline accepts (local sources, staged items). No I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::attach {

inline constexpr uint64_t kMiB = uint64_t{1} << 20;

inline constexpr uint64_t kMaxFileSourceBytes = 100 * kMiB;    // kind "file"
inline constexpr uint64_t kMaxImageSourceBytes = 200 * kMiB;   // an image, either kind
inline constexpr uint64_t kMaxClipboardImageBytes = 200 * kMiB;
inline constexpr uint64_t kMaxStagedFileBytes = 100 * kMiB;    // a staged non-image
inline constexpr uint64_t kMaxStagedImageBytes = 10 * kMiB;    // a staged image
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 27; // width * height
inline constexpr uint64_t kMaxStagingBytes = uint64_t{1} << 30;
inline constexpr uint32_t kKeptPngMaxSide = 2048;
inline constexpr uint64_t kKeptPngMaxBytes = 10 * kMiB;
// Staged items whose last write is this old or older are pruned: one day and
// one second, so an item staged a day ago is still there for its upload.
inline constexpr int64_t kStagingMaxAgeNs = int64_t{86401} * 1000000000;
inline constexpr uint64_t kMaxBase64ReadBytes = 8 * kMiB;
inline constexpr size_t kClipboardWritePiece = size_t{16} << 20;
// A batch ("ingest", "pickFiles", "readClipboard") takes at most this many paths.
inline constexpr size_t kMaxBatchFiles = 50;

// The name of the folder a staged clipboard image is written in before it is
// staged ("stage-" + GUID); never a staged item itself.
inline constexpr std::string_view kClipboardStagePrefix = "stage-";

enum class IngestKind { Media, File };

// The file name at the end of `path`: the text after the last "/", or the
// whole path when it has none.
std::string_view SourceNameOf(std::string_view path);

// The extension of a file name, lower-cased (ASCII): the text after its last
// dot, unless that dot is its first character; "" when there is none.
std::string ExtensionOf(std::string_view name);

// The name without its extension and dot (the same split as ExtensionOf).
std::string_view StemOf(std::string_view name);

// png, jpg, jpeg, gif, webp, heic, heif, tif, tiff, bmp.
bool IsImageExtension(std::string_view lowerExtension);

// The MIME type for a lower-case extension; "application/octet-stream" for
// any extension not in the table.
std::string_view MimeForExtension(std::string_view lowerExtension);

// A path that arrived from a drop or the clipboard may be staged only when it
// is absolute ("/" first) and holds no NUL (which would cut it short).
bool IsLocalAbsolutePath(std::string_view path);

// A staged item is `stagingRoot` + "/" + folder + "/" + file, where folder is
// a GUID folder (36 characters of hexadecimal digits and "-") and file is a
// plain name: not "." or "..", no "/", "\" or ":". The path holds no NUL.
struct StagedItemPath {
  std::string folder;
  std::string file;
};
std::optional<StagedItemPath> ParseStagedItemPath(std::string_view path, std::string_view stagingRoot);

}  // namespace VirelantDesktop::attach
