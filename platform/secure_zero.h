// Overwriting secrets in memory with zeros, in a way the compiler may not
// drop as a dead store.
#pragma once

#include <cstddef>
#include <string>

namespace VirelantDesktop::platform {

void SecureZero(void* data, size_t size) noexcept;

// Zeroes the string's characters (its whole capacity) and empties it.
void SecureWipe(std::string& secret) noexcept;

}  // namespace VirelantDesktop::platform
