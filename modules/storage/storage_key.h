// The key rule shared by the key-value store and the secure store: 1 to 64
// bytes, each one of "A"-"Z", "a"-"z", "0"-"9", ".", "_" and "-", checked on
// the UTF-8 bytes as received.
#pragma once

#include <string_view>

namespace VirelantDesktop::storage {

inline constexpr size_t kMaxKeyBytes = 64;

bool IsValidKey(std::string_view key) noexcept;

}  // namespace VirelantDesktop::storage
