// The update signature check: a strict reader for the trusted RSA public key
// (DER SubjectPublicKeyInfo) and RSASSA-PKCS1-v1_5 with SHA-256, where the
// expected encoding is built here and compared with the raw public-key
// operation's output byte for byte (no library padding check is trusted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace VirelantDesktop::updater {

inline constexpr size_t kMaxSignedMessageBytes = 512 * 1024;

struct RsaPublicKey {
  bool usable = false;
  std::vector<uint8_t> modulus;  // big-endian, no leading zero byte
  size_t modulusBits = 0;
  std::shared_ptr<void> handle;  // the prepared public key (OpenSSL), when usable
};

// Reads exactly SEQUENCE { SEQUENCE { rsaEncryption OID, NULL }, BIT STRING
// (no unused bits) { SEQUENCE { INTEGER modulus, INTEGER 65537 } } } with
// minimal DER lengths and nothing left over anywhere. The modulus must be
// positive and minimally encoded, 2048 to 8192 bits, odd, with its top bit
// set; the exponent exactly 01 00 01. Anything else: not usable.
RsaPublicKey ParseRsaPublicKeyDer(std::span<const uint8_t> der);

// True when `signature` is a valid RSASSA-PKCS1-v1_5 SHA-256 signature of
// `message` under `key`. Refused before any arithmetic: an unusable key, a
// signature whose length is not the modulus length, a message over 512 KiB,
// a signature not smaller than the modulus.
bool VerifyRsaSha256(const RsaPublicKey& key, std::string_view message, std::span<const uint8_t> signature);

// Test seam: counts the raw public-key operations performed.
uint64_t RawRsaOperationsForTesting();

}  // namespace VirelantDesktop::updater
