#include "modules/attach/drop_target.h"

#include <cctype>

namespace VirelantDesktop::filedrop {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "" when `uri` is no local file URI.
std::string PathOfFileUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size()) return {};
  for (size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(uri[i])) != kScheme[i]) return {};
  }
  std::string_view rest = uri.substr(kScheme.size());
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return {};
  const std::string_view host = rest.substr(0, slash);
  if (!host.empty() && host != "localhost") return {};
  std::string_view encoded = rest.substr(slash);
  if (const size_t end = encoded.find_first_of("?#"); end != std::string_view::npos) encoded = encoded.substr(0, end);
  std::string path;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      path.push_back(encoded[i]);
      continue;
    }
    if (i + 2 >= encoded.size()) return {};  // a cut-off escape
    const int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
    if (high < 0 || low < 0) return {};
    path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return {};
  return path;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Collect(const std::vector<std::string_view>& lines, size_t first, size_t limit) {
  std::vector<std::string> paths;
  for (size_t i = first; i < lines.size() && paths.size() < limit; ++i) {
    if (lines[i].empty() || lines[i][0] == '#') continue;
    std::string path = PathOfFileUri(lines[i]);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace

DropEffect EffectFor(AllowedEffects allowed) {
  if (allowed.copy) return DropEffect::Copy;
  if (allowed.link) return DropEffect::Link;
  return DropEffect::None;
}

DropEffect Target::DragEnter(bool hasFiles, AllowedEffects allowed) {
  acceptsDrag_ = Enabled() && hasFiles;
  if (!acceptsDrag_) return DropEffect::None;
  if (!hoverActive_) {
    hoverActive_ = true;
    if (onHover) onHover(true);
  }
  return EffectFor(allowed);
}

DropEffect Target::DragOver(AllowedEffects allowed) {
  return acceptsDrag_ && Enabled() ? EffectFor(allowed) : DropEffect::None;
}

void Target::DragLeave() {
  acceptsDrag_ = false;
  EndHover();
}

DropEffect Target::Drop(std::vector<std::string> paths, AllowedEffects allowed) {
  const bool ok = acceptsDrag_ && Enabled();
  acceptsDrag_ = false;
  EndHover();
  if (!ok || paths.empty()) return DropEffect::None;
  if (onDrop) onDrop(std::move(paths));
  return EffectFor(allowed);
}

void Target::EndHover() {
  if (!hoverActive_) return;
  hoverActive_ = false;
  if (onHover) onHover(false);
}

std::vector<std::string> PathsFromUriList(std::string_view uriList, size_t limit) {
  return Collect(Lines(uriList), 0, limit);
}

std::vector<std::string> PathsFromCopiedFiles(std::string_view copied, size_t limit) {
  const std::vector<std::string_view> lines = Lines(copied);
  if (lines.empty() || (lines[0] != "copy" && lines[0] != "cut")) return Collect(lines, 0, limit);
  return Collect(lines, 1, limit);
}

}  // namespace VirelantDesktop::filedrop
