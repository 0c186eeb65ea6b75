// The signature file reader and the verifier on arbitrary text: an accepted
// file has 1 to 8 entries with non-empty key ids and signatures and no byte
// order mark; the verifier over the compiled key never accepts made-up
// signatures, and nothing crashes or throws.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "updater/signature_check.h"

using namespace VirelantDesktop::updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto entries = ParseSignatureFile(text)) {
    bool ok = !entries->empty() && entries->size() <= kMaxSignatureEntries && !text.starts_with("\xEF\xBB\xBF");
    for (const SignatureEntry& entry : *entries) ok = ok && !entry.keyId.empty() && !entry.sig.empty();
    if (!ok) {
      std::fprintf(stderr, "signature_file_fuzz: accepted a file outside the rules\n");
      __builtin_trap();
    }
  }
  static const SignatureVerifier verify = MakeNativeVerifier();
  if (verify("{}", text).ok) {
    std::fprintf(stderr, "signature_file_fuzz: a made-up signature verified\n");
    __builtin_trap();
  }
  return 0;
}
