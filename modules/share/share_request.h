// A share request as JavaScript sends it, checked before anything is
// shared: the text's size, the link's shape, the anchor, and that there is
// something to share. A file may only come from the media cache's handed-out
// copies (MediaRoot + "/tmp"), reached without following a link.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/js_value.h"
#include "platform/unique_fd.h"

namespace VirelantDesktop::share {

inline constexpr size_t kMaxTextBytes = 40000;

struct ShareRequest {
  std::optional<std::string> filePath;  // present even when empty
  std::string text;
  std::optional<std::string> url;
};

// The request, or nullopt for "invalid_request": members of another type
// count as absent; the text is at most 40,000 bytes; a URL passes
// IsShareableUrl; the anchor is an object whose x, y, width and height are
// numbers; a file, a non-empty text or a URL is there.
std::optional<ShareRequest> ParseShareRequest(const JSValue& argument);

// 9 to 2048 bytes, "https://" in any case, no spaces, control characters,
// DEL or any of " < > \ ^ ` { | }, and a host after the scheme.
bool IsShareableUrl(std::string_view url);

// A checked file: its path and the file itself, open for reading (what is
// shared even if the name is taken away meanwhile).
struct SharedFile {
  std::string path;
  std::shared_ptr<const platform::UniqueFd> file;
};

// The file to share for `path`: an absolute path without ".." that names a
// regular file strictly inside `tmpFolder` (MediaRoot + "/tmp"), reached
// without a link at any level; nullopt ("path_denied") otherwise.
std::optional<SharedFile> CheckSharedPath(const std::string& path, const std::string& tmpFolder);

}  // namespace VirelantDesktop::share
