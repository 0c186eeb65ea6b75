// Base64 with the standard alphabet, "=" padding and no line breaks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace VirelantDesktop::platform {

std::string Base64Encode(std::span<const uint8_t> bytes);
std::string Base64Encode(std::string_view bytes);

// Strict decoding: only the standard alphabet, length a multiple of 4,
// padding only at the end (at most two "="), no whitespace, and the unused
// bits of the last group zero. nullopt for anything else.
std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text);

}  // namespace VirelantDesktop::platform
