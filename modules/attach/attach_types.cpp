#include "modules/attach/attach_types.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/ascii_text.h"

namespace VirelantDesktop::attach {
namespace {

constexpr std::array<std::string_view, 10> kImageExtensions = {"png",  "jpg", "jpeg", "gif",  "webp",
                                                               "heic", "heif", "tif", "tiff", "bmp"};

constexpr std::array<std::pair<std::string_view, std::string_view>, 26> kMimeTypes = {{
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"heic", "image/heic"},
    {"heif", "image/heif"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"bmp", "image/bmp"},
    {"mp4", "video/mp4"},
    {"mov", "video/quicktime"},
    {"webm", "video/webm"},
    {"m4a", "audio/mp4"},
    {"mp3", "audio/mpeg"},
    {"ogg", "audio/ogg"},
    {"wav", "audio/wav"},
    {"pdf", "application/pdf"},
    {"txt", "text/plain"},
    {"md", "text/markdown"},
    {"csv", "text/csv"},
    {"json", "application/json"},
    {"zip", "application/zip"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
}};

constexpr size_t kGuidLength = 36;

// The position of the dot that starts the extension, or npos.
size_t ExtensionDot(std::string_view name) {
  const size_t dot = name.find_last_of('.');
  return dot == 0 ? std::string_view::npos : dot;
}

bool IsGuidCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '-';
}

}  // namespace

std::string_view SourceNameOf(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(std::string_view name) {
  const size_t dot = ExtensionDot(name);
  if (dot == std::string_view::npos) return {};
  return platform::LowerAscii(name.substr(dot + 1));
}

std::string_view StemOf(std::string_view name) {
  const size_t dot = ExtensionDot(name);
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

bool IsImageExtension(std::string_view lowerExtension) {
  return std::find(kImageExtensions.begin(), kImageExtensions.end(), lowerExtension) != kImageExtensions.end();
}

std::string_view MimeForExtension(std::string_view lowerExtension) {
  for (const auto& [extension, mime] : kMimeTypes) {
    if (extension == lowerExtension) return mime;
  }
  return "application/octet-stream";
}

bool IsLocalAbsolutePath(std::string_view path) {
  return !path.empty() && path.front() == '/' && path.find('\0') == std::string_view::npos;
}

std::optional<StagedItemPath> ParseStagedItemPath(std::string_view path, std::string_view stagingRoot) {
  if (stagingRoot.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  if (path.size() <= stagingRoot.size() + 1 || !path.starts_with(stagingRoot) || path[stagingRoot.size()] != '/') {
    return std::nullopt;
  }
  const std::string_view rest = path.substr(stagingRoot.size() + 1);
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 >= rest.size()) return std::nullopt;
  const std::string_view folder = rest.substr(0, slash);
  const std::string_view file = rest.substr(slash + 1);
  if (folder.size() != kGuidLength || !std::all_of(folder.begin(), folder.end(), IsGuidCharacter)) {
    return std::nullopt;
  }
  if (file == "." || file == ".." || file.find_first_of("/\\:") != std::string_view::npos) return std::nullopt;
  return StagedItemPath{std::string(folder), std::string(file)};
}

}  // namespace VirelantDesktop::attach
