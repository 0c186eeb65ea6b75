#include "updater/signature_check.h"

#include "platform/base64.h"
#include "updater/json_reader.h"

namespace VirelantDesktop::updater {

std::optional<std::vector<SignatureEntry>> ParseSignatureFile(std::string_view text) {
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
    return std::nullopt;  // the reader would skip it; signature files may not carry one
  }
  try {
    const JsonValue root = ParseJson(text);
    const JsonArray* items = root.AsArray();
    if (items == nullptr || items->empty() || items->size() > kMaxSignatureEntries) return std::nullopt;
    std::vector<SignatureEntry> entries;
    for (const JsonValue& item : *items) {
      const JsonValue* keyIdValue = item.AsObject() != nullptr ? item.Find("keyId") : nullptr;
      const JsonValue* sigValue = item.AsObject() != nullptr ? item.Find("sig") : nullptr;
      const std::string* keyId = keyIdValue != nullptr ? keyIdValue->AsString() : nullptr;
      const std::string* sig = sigValue != nullptr ? sigValue->AsString() : nullptr;
      if (keyId == nullptr || sig == nullptr || keyId->empty() || sig->empty()) return std::nullopt;
      entries.push_back({*keyId, *sig});
    }
    return entries;
  } catch (...) {
    return std::nullopt;
  }
}

SignatureVerifier MakeVerifier(const std::vector<TrustedKeyDer>& keys) {
  auto table = std::make_shared<std::vector<TrustedKey>>();
  for (const TrustedKeyDer& row : keys) {
    table->push_back({row.keyId, row.algorithm, ParseRsaPublicKeyDer(row.der)});
  }
  return [table](std::string_view manifest, std::string_view signatureFile) -> SigVerdict {
    try {
      const auto entries = ParseSignatureFile(signatureFile);
      if (!entries) return {};
      for (const SignatureEntry& entry : *entries) {
        const TrustedKey* key = nullptr;
        for (const TrustedKey& candidate : *table) {
          if (candidate.keyId == entry.keyId) {
            key = &candidate;
            break;  // the first row with that id decides
          }
        }
        if (key == nullptr || key->algorithm != "rsa-sha256" || !key->key.usable) continue;
        const auto signature = platform::Base64Decode(entry.sig);
        if (!signature) continue;
        if (VerifyRsaSha256(key->key, manifest, *signature)) return {true, key->keyId};
      }
      return {};
    } catch (...) {
      return {};
    }
  };
}

SignatureVerifier MakeNativeVerifier() {
  static const SignatureVerifier verifier = MakeVerifier(CompiledTrustedKeys());
  return verifier;
}

}  // namespace VirelantDesktop::updater
