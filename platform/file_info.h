// What a path names, following symbolic links.
#pragma once

#include <string>

namespace VirelantDesktop::platform {

enum class PathKind { Missing, Directory, Other };

// Missing also when the path cannot be looked at.
PathKind KindOfPath(const std::string& path) noexcept;

}  // namespace VirelantDesktop::platform
