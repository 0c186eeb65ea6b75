// Names for temporary files made beside a target file.
//
// Every one is "." + 16 lower-case hexadecimal digits + ".tmp": 21 bytes
// whatever the target is called, so a target whose name already takes the
// 255 bytes a Linux file name may have still gets a temporary name, and the
// leading dot keeps it out of ordinary folder listings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace VirelantDesktop::platform {

inline constexpr size_t kTempNameBytes = 21;

// A fresh name from the kernel's random source (the clock, the process and a
// counter when that fails), for writers that may meet beside one target:
// create it exclusively and take another name when it exists.
std::string RandomTempName();

// The name fixed for the target `targetName` (a 64-bit hash of it), for
// writers that are alone on their target: the leftover of an interrupted
// write is found, and replaced, by the next write of the same target.
std::string TempNameFor(std::string_view targetName);

}  // namespace VirelantDesktop::platform
