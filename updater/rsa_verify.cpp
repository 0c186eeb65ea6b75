#include "updater/rsa_verify.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

namespace VirelantDesktop::updater {
namespace {

std::atomic<uint64_t> g_rawOperations{0};

constexpr std::array<uint8_t, 11> kRsaEncryptionOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                       0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr std::array<uint8_t, 19> kSha256DigestInfo = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                       0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

// A DER reader over one span: each Read takes one element of the wanted tag
// and hands out its content.
class DerReader {
 public:
  explicit DerReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool Read(uint8_t tag, std::span<const uint8_t>& content) {
    if (bytes_.size() < 2 || bytes_[0] != tag) return false;
    size_t length = bytes_[1];
    size_t header = 2;
    if (length >= 0x80) {
      const size_t count = length & 0x7F;
      if (count == 0 || count > 4 || bytes_.size() < 2 + count) return false;
      if (bytes_[2] == 0) return false;  // not minimal
      length = 0;
      for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes_[2 + i];
      if (length < 0x80) return false;  // the short form was due
      header += count;
    }
    if (bytes_.size() - header < length) return false;
    content = bytes_.subspan(header, length);
    bytes_ = bytes_.subspan(header + length);
    return true;
  }
  bool Empty() const { return bytes_.empty(); }

 private:
  std::span<const uint8_t> bytes_;
};

// The modulus and 65537 as an OpenSSL public key.
std::shared_ptr<void> MakePublicKey(const std::vector<uint8_t>& modulus) {
  BIGNUM* n = BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr);
  BIGNUM* e = BN_new();
  OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* key = nullptr;
  if (n != nullptr && e != nullptr && builder != nullptr && context != nullptr && BN_set_word(e, 65537) == 1 &&
      OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n) == 1 &&
      OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e) == 1 &&
      (params = OSSL_PARAM_BLD_to_param(builder)) != nullptr && EVP_PKEY_fromdata_init(context) == 1) {
    if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
  }
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(builder);
  EVP_PKEY_CTX_free(context);
  BN_free(e);
  BN_free(n);
  if (key == nullptr) return nullptr;
  return std::shared_ptr<void>(key, [](void* k) { EVP_PKEY_free(static_cast<EVP_PKEY*>(k)); });
}

// S^e mod n into `out` (k bytes). False when the operation fails or gives
// anything but k bytes.
bool RawPublicOperation(const RsaPublicKey& key, std::span<const uint8_t> signature, std::vector<uint8_t>& out) {
  g_rawOperations.fetch_add(1, std::memory_order_relaxed);
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_pkey(nullptr, static_cast<EVP_PKEY*>(key.handle.get()), nullptr);
  bool ok = false;
  size_t length = out.size();
  if (context != nullptr && EVP_PKEY_encrypt_init(context) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(context, RSA_NO_PADDING) == 1 &&
      EVP_PKEY_encrypt(context, out.data(), &length, signature.data(), signature.size()) == 1) {
    ok = length == out.size();
  }
  EVP_PKEY_CTX_free(context);
  return ok;
}

}  // namespace

RsaPublicKey ParseRsaPublicKeyDer(std::span<const uint8_t> der) {
  RsaPublicKey key;
  DerReader outer(der);
  std::span<const uint8_t> spki, algorithm, bits, oid, null, rsaKey, modulus, exponent;
  if (!outer.Read(0x30, spki) || !outer.Empty()) return key;
  DerReader info(spki);
  if (!info.Read(0x30, algorithm) || !info.Read(0x03, bits) || !info.Empty()) return key;
  DerReader algorithmReader(algorithm);
  if (!algorithmReader.Read(0x06, oid) || !algorithmReader.Read(0x05, null) || !algorithmReader.Empty()) return key;
  if (oid.size() != kRsaEncryptionOid.size() - 2 ||
      !std::equal(oid.begin(), oid.end(), kRsaEncryptionOid.begin() + 2) || !null.empty()) {
    return key;
  }
  if (bits.empty() || bits[0] != 0) return key;  // no unused bits
  DerReader bitContent(bits.subspan(1));
  if (!bitContent.Read(0x30, rsaKey) || !bitContent.Empty()) return key;
  DerReader numbers(rsaKey);
  if (!numbers.Read(0x02, modulus) || !numbers.Read(0x02, exponent) || !numbers.Empty()) return key;
  // Positive and minimal: a leading zero only before a byte with its top bit set.
  if (modulus.empty() || (modulus[0] & 0x80) != 0) return key;
  if (modulus[0] == 0) {
    if (modulus.size() < 2 || (modulus[1] & 0x80) == 0) return key;
    modulus = modulus.subspan(1);
  }
  if (exponent.size() != 3 || exponent[0] != 0x01 || exponent[1] != 0x00 || exponent[2] != 0x01) return key;
  if ((modulus[0] & 0x80) == 0 || modulus.size() < 256 || modulus.size() > 1024 || (modulus.back() & 1) == 0) {
    return key;
  }
  key.modulus.assign(modulus.begin(), modulus.end());
  key.modulusBits = modulus.size() * 8;
  key.handle = MakePublicKey(key.modulus);
  key.usable = key.handle != nullptr;
  return key;
}

bool VerifyRsaSha256(const RsaPublicKey& key, std::string_view message, std::span<const uint8_t> signature) {
  if (!key.usable) return false;
  const size_t k = key.modulus.size();
  if (signature.size() != k || message.size() > kMaxSignedMessageBytes) return false;
  // Not smaller than the modulus: refused before the arithmetic.
  if (!std::lexicographical_compare(signature.begin(), signature.end(), key.modulus.begin(), key.modulus.end())) {
    return false;
  }
  if (k < 62) return false;

  std::array<uint8_t, 32> hash{};
  unsigned int hashLength = 0;
  if (EVP_Digest(message.data(), message.size(), hash.data(), &hashLength, EVP_sha256(), nullptr) != 1 ||
      hashLength != hash.size()) {
    return false;
  }
  // EM = 00 01 FF..FF 00 DigestInfo H
  std::vector<uint8_t> expected(k, 0xFF);
  expected[0] = 0x00;
  expected[1] = 0x01;
  const size_t tail = 1 + kSha256DigestInfo.size() + hash.size();
  expected[k - tail] = 0x00;
  std::copy(kSha256DigestInfo.begin(), kSha256DigestInfo.end(), expected.begin() + static_cast<long>(k - tail + 1));
  std::copy(hash.begin(), hash.end(), expected.end() - static_cast<long>(hash.size()));

  std::vector<uint8_t> actual(k);
  if (!RawPublicOperation(key, signature, actual)) return false;
  return actual == expected;
}

uint64_t RawRsaOperationsForTesting() { return g_rawOperations.load(); }

}  // namespace VirelantDesktop::updater
