#include "updater/rsa_verify.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "tests/updater/test_key_pair.h"

namespace VirelantDesktop::updater {
namespace {

using Bytes = std::vector<uint8_t>;

using KeyPair = testing::TestKeyPair;

const KeyPair& Key3072() {
  static const KeyPair pair(3072);
  return pair;
}

// DER building blocks, for keys the rules must refuse.
Bytes Tlv(uint8_t tag, const Bytes& content, bool longForm = false) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 128 && !longForm) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 256) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
Bytes Spki(const Bytes& modulusInteger, const Bytes& exponent = {0x01, 0x00, 0x01}, bool longNull = false) {
  const Bytes algorithm = Tlv(0x30, Concat({{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01},
                                            Tlv(0x05, {}, longNull)}));
  const Bytes rsaKey = Tlv(0x30, Concat({Tlv(0x02, modulusInteger), Tlv(0x02, exponent)}));
  return Tlv(0x30, Concat({algorithm, Tlv(0x03, Concat({{0x00}, rsaKey}))}));
}
// The modulus INTEGER content of the test key (with its zero sign byte).
Bytes ModulusInteger() {
  const RsaPublicKey key = ParseRsaPublicKeyDer(Key3072().spki);
  return Concat({{0x00}, key.modulus});
}

TEST(RsaKeyDer, AcceptsOnlyTheStrictForm) {
  const RsaPublicKey key = ParseRsaPublicKeyDer(Key3072().spki);
  ASSERT_TRUE(key.usable);
  EXPECT_EQ(key.modulusBits, 3072u);
  EXPECT_EQ(Spki(ModulusInteger()), Key3072().spki) << "the builder reproduces OpenSSL's encoding";

  Bytes trailing = Key3072().spki;
  trailing.push_back(0);
  EXPECT_FALSE(ParseRsaPublicKeyDer(trailing).usable);
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(ModulusInteger(), {0x03})).usable) << "exponent 3";
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(ModulusInteger(), {0x00, 0x01, 0x00, 0x01})).usable);
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(ModulusInteger(), {0x01, 0x00, 0x01}, true)).usable) << "long-form length";
  Bytes even = ModulusInteger();
  even.back() &= 0xFE;
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(even)).usable) << "even modulus";
  const Bytes integer = ModulusInteger();
  const Bytes unsignedTop(integer.begin() + 1, integer.end());
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(unsignedTop)).usable) << "negative (no sign byte)";
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(Concat({{0x00}, ModulusInteger()}))).usable) << "two leading zeros";
  Bytes small = ModulusInteger();
  small.resize(1 + 255);  // 2040 bits
  small.back() |= 1;
  EXPECT_FALSE(ParseRsaPublicKeyDer(Spki(small)).usable) << "below 2048 bits";
  EXPECT_FALSE(ParseRsaPublicKeyDer(Bytes{}).usable);
  EXPECT_FALSE(ParseRsaPublicKeyDer(Bytes(Key3072().spki.begin(), Key3072().spki.end() - 1)).usable);

  const KeyPair smallest(2048);
  EXPECT_TRUE(ParseRsaPublicKeyDer(smallest.spki).usable);
}

TEST(RsaSignature, VerifiesAndRefuses) {
  const RsaPublicKey key = ParseRsaPublicKeyDer(Key3072().spki);
  const std::string manifest = R"({"version":"0.3.0"})";
  const Bytes signature = Key3072().Sign(manifest);
  EXPECT_TRUE(VerifyRsaSha256(key, manifest, signature));
  EXPECT_FALSE(VerifyRsaSha256(key, manifest + " ", signature));
  Bytes flipped = signature;
  flipped[100] ^= 1;
  EXPECT_FALSE(VerifyRsaSha256(key, manifest, flipped));
  EXPECT_TRUE(VerifyRsaSha256(key, "", Key3072().Sign("")));

  const KeyPair other(3072);
  EXPECT_FALSE(VerifyRsaSha256(ParseRsaPublicKeyDer(other.spki), manifest, signature));

  // Refused before the raw operation.
  const uint64_t before = RawRsaOperationsForTesting();
  EXPECT_FALSE(VerifyRsaSha256(key, manifest, Bytes(signature.begin(), signature.end() - 1)));
  EXPECT_FALSE(VerifyRsaSha256(key, manifest, Concat({signature, {0}})));
  EXPECT_FALSE(VerifyRsaSha256(key, manifest, key.modulus)) << "equal to the modulus";
  EXPECT_FALSE(VerifyRsaSha256(key, manifest, Bytes(key.modulus.size(), 0xFF)));
  EXPECT_FALSE(VerifyRsaSha256(key, std::string(kMaxSignedMessageBytes + 1, 'm'), signature));
  EXPECT_FALSE(VerifyRsaSha256(RsaPublicKey{}, manifest, signature));
  EXPECT_EQ(RawRsaOperationsForTesting(), before);
}

TEST(RsaSignature, AnotherDigestOrPaddingIsNotAccepted) {
  const RsaPublicKey key = ParseRsaPublicKeyDer(Key3072().spki);
  const std::string message = "m";
  // The same message signed with SHA-1 and with PSS: valid signatures, wrong encoding.
  for (const bool pss : {false, true}) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pkey = nullptr;
    EVP_DigestSignInit(context, &pkey, pss ? EVP_sha256() : EVP_sha1(), nullptr, Key3072().key);
    if (pss) EVP_PKEY_CTX_set_rsa_padding(pkey, RSA_PKCS1_PSS_PADDING);
    size_t length = 0;
    EVP_DigestSign(context, nullptr, &length, reinterpret_cast<const uint8_t*>(message.data()), message.size());
    Bytes signature(length);
    EVP_DigestSign(context, signature.data(), &length, reinterpret_cast<const uint8_t*>(message.data()),
                   message.size());
    EVP_MD_CTX_free(context);
    EXPECT_FALSE(VerifyRsaSha256(key, message, signature)) << (pss ? "PSS" : "SHA-1");
  }
}

}  // namespace
}  // namespace VirelantDesktop::updater
