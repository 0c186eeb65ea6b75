// A real RSA key pair made by OpenSSL for a test: its DER public key and
// PKCS#1 v1.5 SHA-256 signatures.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace VirelantDesktop::updater::testing {

struct TestKeyPair {
  explicit TestKeyPair(unsigned bits) : TestKeyPair(EVP_RSA_gen(bits)) {}
  explicit TestKeyPair(EVP_PKEY* pkey) : key(pkey) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    spki.assign(der, der + length);
    OPENSSL_free(der);
  }
  ~TestKeyPair() { EVP_PKEY_free(key); }
  TestKeyPair(const TestKeyPair&) = delete;
  TestKeyPair& operator=(const TestKeyPair&) = delete;

  std::vector<uint8_t> Sign(std::string_view message) const {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t length = 0;
    EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key);
    EVP_DigestSign(context, nullptr, &length, reinterpret_cast<const uint8_t*>(message.data()), message.size());
    std::vector<uint8_t> signature(length);
    EVP_DigestSign(context, signature.data(), &length, reinterpret_cast<const uint8_t*>(message.data()),
                   message.size());
    EVP_MD_CTX_free(context);
    return signature;
  }

  EVP_PKEY* key;
  std::vector<uint8_t> spki;
};

}  // namespace VirelantDesktop::updater::testing
