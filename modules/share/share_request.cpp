#include "modules/share/share_request.h"

#include <filesystem>

#include "modules/media/media_root.h"

namespace VirelantDesktop::share {
namespace {

std::optional<std::string> StringMember(const JSValue& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool AnchorIsValid(const JSValue& argument) {
  const auto anchor = argument.find("anchor");
  if (anchor == argument.end() || !anchor->is_object()) return false;
  for (const char* member : {"x", "y", "width", "height"}) {
    const auto it = anchor->find(member);
    if (it == anchor->end() || !it->is_number()) return false;
  }
  return true;
}

}  // namespace

bool IsShareableUrl(std::string_view url) {
  if (url.size() < 9 || url.size() > 2048) return false;
  constexpr std::string_view kScheme = "https://";
  for (size_t i = 0; i < kScheme.size(); ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kScheme[i]) return false;
  }
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 33 || byte == 127) return false;
    if (std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) return false;
  }
  const char host = url[8];
  return host != '/' && host != '?' && host != '#';
}

std::optional<ShareRequest> ParseShareRequest(const JSValue& argument) {
  if (!argument.is_object()) return std::nullopt;
  ShareRequest request;
  request.filePath = StringMember(argument, "filePath");
  request.text = StringMember(argument, "text").value_or("");
  request.url = StringMember(argument, "url");
  if (request.text.size() > kMaxTextBytes) return std::nullopt;
  if (request.url && !IsShareableUrl(*request.url)) return std::nullopt;
  if (!request.filePath && request.text.empty() && !request.url) return std::nullopt;
  if (!AnchorIsValid(argument)) return std::nullopt;
  return request;
}

std::optional<SharedFile> CheckSharedPath(const std::string& path, const std::string& tmpFolder) {
  if (path.size() < 2 || path[0] != '/' || tmpFolder.empty()) return std::nullopt;
  const std::filesystem::path given(path);
  for (const auto& part : given) {
    if (part == "..") return std::nullopt;
  }
  const std::string normal = given.lexically_normal().string();
  if (normal.size() < tmpFolder.size() + 2 || normal.compare(0, tmpFolder.size(), tmpFolder) != 0 ||
      normal[tmpFolder.size()] != '/') {
    return std::nullopt;
  }
  // Walked down from the folder, never through a link, to a regular file.
  auto file = std::make_shared<const platform::UniqueFd>(media::OpenFileBelowRoot(tmpFolder, normal));
  if (!*file) return std::nullopt;
  return SharedFile{normal, std::move(file)};
}

}  // namespace VirelantDesktop::share
