// Rules on font file names and registered paths. No I/O.
//
// File names compare exactly (the file system tells case apart). Paths are
// compared as given, or after FontPathKey: runs of "/" become one and "."
// components go; ".." stays (resolving it would need the disk, and a link
// may sit at any level).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/font_registry.h"

namespace VirelantDesktop::fonts {

// A shipped file name, or a shipped file's stem + "." + 8 hexadecimal digits
// + ".ttf" (the name a copy takes when the plain one belongs to someone else).
bool IsProductFontName(std::string_view name) noexcept;

// `file` without ".ttf" + "." + `hash` + ".ttf".
std::string HashSuffixedName(std::string_view file, std::string_view hash);

std::string FontPathKey(std::string_view path);

// The file name of `path` when it lies directly in `folder` (`folder` + "/"
// + a name without "/", other than "." and ".."); nullopt otherwise.
std::optional<std::string> NameDirectlyIn(std::string_view folder, std::string_view path);

// True when a value whose name is not among `exempt` (names compare ASCII
// case-insensitively) has `path` as its data, as given or by FontPathKey.
bool IsReferencedByOtherValue(const std::vector<platform::FontRegistryValue>& values,
                              const std::vector<std::string>& exempt, std::string_view path);

// True when one of `files` (paths of a family's fonts) lies directly in
// `folder` and has a product font name.
bool AnyProductFontIn(const std::vector<std::string>& files, std::string_view folder);

}  // namespace VirelantDesktop::fonts
