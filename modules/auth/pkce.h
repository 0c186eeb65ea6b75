// The secrets of one sign-in flow: the state and the PKCE verifier drawn
// from the system's secure random generator, and the S256 challenge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::authlb {

inline constexpr size_t kStateLength = 43;
inline constexpr size_t kVerifierLength = 64;
inline constexpr std::string_view kVerifierAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";

// Fills a buffer with random bytes; false when the generator fails.
using RandomSource = std::function<bool(uint8_t* bytes, size_t count)>;
// The system's secure generator.
bool SystemRandom(uint8_t* bytes, size_t count);

// Exactly 32 bytes as 43 base64url characters, without "=".
std::string Base64UrlNoPad(const std::array<uint8_t, 32>& bytes);

// 32 random bytes in base64url: 43 characters.
std::optional<std::string> MakeState(const RandomSource& random = SystemRandom);
// 64 characters of the 66-character alphabet by rejection sampling (bytes of
// 198 and above are skipped, so every character is equally likely).
std::optional<std::string> MakeCodeVerifier(const RandomSource& random = SystemRandom);
// base64url(SHA-256(verifier)): 43 characters.
std::optional<std::string> CodeChallengeFor(std::string_view verifier);

}  // namespace VirelantDesktop::authlb
