// How much room a file system has left for the calling user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace VirelantDesktop::platform {

// The bytes available to this process's user on the file system holding
// `path` (space reserved for the superuser left out); nullopt when the path
// cannot be looked at.
std::optional<uint64_t> FreeSpaceForCaller(const std::string& path) noexcept;

}  // namespace VirelantDesktop::platform
