// The update manifest's signature file and the check against the trusted
// keys compiled into the program.
//
// "manifest.sig" is a JSON array of 1 to 8 objects {"keyId", "sig"} (both
// non-empty strings, "sig" in standard Base64). The whole file is refused,
// no entry tried, when it starts with a byte order mark, is not such an
// array, or any entry breaks the form. Entries are tried in order: one whose
// key id names no usable trusted key, or whose Base64 does not decode, is
// skipped; the first that verifies decides.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "updater/rsa_verify.h"

namespace VirelantDesktop::updater {

inline constexpr size_t kMaxSignatureEntries = 8;

struct SignatureEntry {
  std::string keyId;
  std::string sig;  // Base64
};

// The entries, or nullopt when the file is refused as a whole.
std::optional<std::vector<SignatureEntry>> ParseSignatureFile(std::string_view text);

struct TrustedKey {
  std::string keyId;
  std::string algorithm;  // only "rsa-sha256" rows are used
  RsaPublicKey key;       // parsed once; unusable when the DER broke a rule
};

struct SigVerdict {
  bool ok = false;
  std::string keyId;  // the key that verified; empty when not ok
};

using SignatureVerifier = std::function<SigVerdict(std::string_view manifest, std::string_view signatureFile)>;

// A verifier over `keys` (parsed from their DER once, here).
struct TrustedKeyDer {
  std::string keyId;
  std::string algorithm;
  std::span<const uint8_t> der;
};
SignatureVerifier MakeVerifier(const std::vector<TrustedKeyDer>& keys);

// The verifier over the key table compiled into this program.
SignatureVerifier MakeNativeVerifier();

// The compiled-in table (one row): its DER sits in the program image right
// behind the 16-byte marker "TALVEKTRUSTKEY1" and its terminating zero.
std::vector<TrustedKeyDer> CompiledTrustedKeys();

}  // namespace VirelantDesktop::updater
