// Identifiers from the kernel's random source.
#pragma once

#include <cstddef>
#include <string>

namespace VirelantDesktop::platform {

// A random (version 4) GUID as 36 characters: upper-case hexadecimal digits
// and hyphens, no braces ("8-4-4-4-12"). Throws std::runtime_error when the
// random source fails.
std::string NewGuidString();

// Fills `size` bytes from the kernel's random source; false when it fails.
bool FillRandom(void* data, size_t size) noexcept;

}  // namespace VirelantDesktop::platform
