#include "modules/auth/pkce.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "platform/secure_zero.h"

namespace VirelantDesktop::authlb {
namespace {

constexpr std::string_view kBase64Url = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

}  // namespace

bool SystemRandom(uint8_t* bytes, size_t count) {
  return RAND_bytes(bytes, static_cast<int>(count)) == 1;
}

std::string Base64UrlNoPad(const std::array<uint8_t, 32>& bytes) {
  std::string out;
  out.reserve(kStateLength);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kBase64Url[(group >> 18) & 0x3F]);
    out.push_back(kBase64Url[(group >> 12) & 0x3F]);
    out.push_back(kBase64Url[(group >> 6) & 0x3F]);
    out.push_back(kBase64Url[group & 0x3F]);
  }
  const uint32_t tail = (uint32_t{bytes[i]} << 8 | bytes[i + 1]) << 2;  // 16 bits and two zero bits
  out.push_back(kBase64Url[(tail >> 12) & 0x3F]);
  out.push_back(kBase64Url[(tail >> 6) & 0x3F]);
  out.push_back(kBase64Url[tail & 0x3F]);
  return out;
}

std::optional<std::string> MakeState(const RandomSource& random) {
  std::array<uint8_t, 32> bytes{};
  if (!random(bytes.data(), bytes.size())) return std::nullopt;
  std::string state = Base64UrlNoPad(bytes);
  platform::SecureZero(bytes.data(), bytes.size());
  return state;
}

std::optional<std::string> MakeCodeVerifier(const RandomSource& random) {
  std::string verifier;
  verifier.reserve(kVerifierLength);
  std::array<uint8_t, 64> bytes{};
  while (verifier.size() < kVerifierLength) {
    if (!random(bytes.data(), bytes.size())) return std::nullopt;
    for (uint8_t byte : bytes) {
      if (byte >= 198) continue;  // 198 = 3 x 66: keeps every character equally likely
      verifier.push_back(kVerifierAlphabet[byte % kVerifierAlphabet.size()]);
      if (verifier.size() == kVerifierLength) break;
    }
  }
  platform::SecureZero(bytes.data(), bytes.size());
  return verifier;
}

std::optional<std::string> CodeChallengeFor(std::string_view verifier) {
  std::array<uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_Digest(verifier.data(), verifier.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    return std::nullopt;
  }
  return Base64UrlNoPad(digest);
}

}  // namespace VirelantDesktop::authlb
