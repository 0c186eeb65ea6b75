// Identifiers from the kernel's random source.
#pragma once

#include <string>

namespace VirelantDesktop::platform {

// A random (version 4) GUID as 36 characters: upper-case hexadecimal digits
// and hyphens, no braces ("8-4-4-4-12").
std::string NewGuidString();

}  // namespace VirelantDesktop::platform
