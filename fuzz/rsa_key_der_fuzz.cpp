// The trusted-key reader on arbitrary DER, and the signature check on
// arbitrary signatures for an accepted key.
//  - an accepted key has a modulus of 256 to 1024 bytes, odd, top bit set;
//  - a signature made of fuzz bytes never verifies against a message of fuzz
//    bytes (nobody forges RSA by chance), and nothing crashes or throws.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "updater/rsa_verify.h"

using namespace VirelantDesktop::updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const RsaPublicKey key = ParseRsaPublicKeyDer(bytes);
  if (!key.usable) return 0;
  if (key.modulus.size() < 256 || key.modulus.size() > 1024 || (key.modulus[0] & 0x80) == 0 ||
      (key.modulus.back() & 1) == 0) {
    std::fprintf(stderr, "rsa_key_der_fuzz: accepted a key outside the rules\n");
    __builtin_trap();
  }
  // Reuse the key's own bytes as a message and a signature of the right size.
  const std::span<const uint8_t> signature(key.modulus.data(), key.modulus.size());
  std::vector<uint8_t> lower(signature.begin(), signature.end());
  lower[0] = 0;
  if (VerifyRsaSha256(key, std::string_view(reinterpret_cast<const char*>(data), size), lower)) {
    std::fprintf(stderr, "rsa_key_der_fuzz: a made-up signature verified\n");
    __builtin_trap();
  }
  return 0;
}
