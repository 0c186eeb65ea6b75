#include "fonts/font_names.h"

#include <algorithm>

#include "fonts/font_tables.h"
#include "platform/ascii_text.h"

namespace VirelantDesktop::fonts {
namespace {

constexpr std::string_view kExtension = ".ttf";
constexpr size_t kHashDigits = 8;

bool IsHexDigit(char c) noexcept { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string_view Stem(std::string_view file) noexcept { return file.substr(0, file.size() - kExtension.size()); }

}  // namespace

bool IsProductFontName(std::string_view name) noexcept {
  for (const auto& row : kFontFileTable) {
    if (name == row.file) return true;
    const std::string_view stem = Stem(row.file);
    if (name.size() != stem.size() + 1 + kHashDigits + kExtension.size()) continue;
    if (!name.starts_with(stem) || name[stem.size()] != '.' || !name.ends_with(kExtension)) continue;
    const std::string_view digits = name.substr(stem.size() + 1, kHashDigits);
    bool hex = true;
    for (char c : digits) hex = hex && IsHexDigit(c);
    if (hex) return true;
  }
  return false;
}

std::string HashSuffixedName(std::string_view file, std::string_view hash) {
  std::string_view stem = file;
  if (stem.ends_with(kExtension)) stem = Stem(stem);
  return std::string(stem) + "." + std::string(hash) + std::string(kExtension);
}

std::string FontPathKey(std::string_view path) {
  std::string key = path.starts_with('/') ? "/" : "";
  size_t i = 0;
  while (i <= path.size()) {
    const size_t end = std::min(path.find('/', i), path.size());
    const std::string_view part = path.substr(i, end - i);
    if (!part.empty() && part != ".") {
      if (!key.empty() && key.back() != '/') key.push_back('/');
      key.append(part);
    }
    i = end + 1;
  }
  return key;
}

std::optional<std::string> NameDirectlyIn(std::string_view folder, std::string_view path) {
  if (folder.empty() || path.size() <= folder.size() + 1) return std::nullopt;
  if (!path.starts_with(folder) || path[folder.size()] != '/') return std::nullopt;
  const std::string_view rest = path.substr(folder.size() + 1);
  if (rest.find('/') != std::string_view::npos || rest == "." || rest == "..") return std::nullopt;
  return std::string(rest);
}

bool IsReferencedByOtherValue(const std::vector<platform::FontRegistryValue>& values,
                              const std::vector<std::string>& exempt, std::string_view path) {
  const std::string key = FontPathKey(path);
  for (const auto& value : values) {
    bool exempted = false;
    for (const auto& name : exempt) exempted = exempted || platform::EqualsIgnoringAsciiCase(value.name, name);
    if (exempted) continue;
    if (value.data == path || FontPathKey(value.data) == key) return true;
  }
  return false;
}

bool AnyProductFontIn(const std::vector<std::string>& files, std::string_view folder) {
  const std::string folderKey = FontPathKey(folder);
  for (const auto& file : files) {
    const auto name = NameDirectlyIn(folderKey, FontPathKey(file));
    if (name && IsProductFontName(*name)) return true;
  }
  return false;
}

}  // namespace VirelantDesktop::fonts
