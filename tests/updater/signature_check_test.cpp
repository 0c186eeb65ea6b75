#include "updater/signature_check.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>

#include "platform/base64.h"
#include "tests/updater/test_key_pair.h"

namespace VirelantDesktop::updater {
namespace {

using Bytes = std::vector<uint8_t>;

// Signatures as a signature file carries them: Base64.
struct Signer : testing::TestKeyPair {
  using TestKeyPair::TestKeyPair;
  std::string Sign(std::string_view message) const { return platform::Base64Encode(TestKeyPair::Sign(message)); }
};

const Signer& KeyA() {
  static const Signer signer(EVP_RSA_gen(3072));
  return signer;
}
const Signer& KeyB() {
  static const Signer signer(EVP_RSA_gen(2048));
  return signer;
}

std::string Entry(const std::string& keyId, const std::string& sig) {
  return R"({"keyId":")" + keyId + R"(","sig":")" + sig + R"("})";
}
std::string File(const std::vector<std::string>& entries) {
  std::string text = "[";
  for (size_t i = 0; i < entries.size(); ++i) text += (i ? "," : "") + entries[i];
  return text + "]";
}

const std::string kManifest = R"({"version":"0.3.0","channel":"production"})";

TEST(SignatureFile, FormRules) {
  const std::string good = Entry("a", "AAAA");
  EXPECT_EQ(ParseSignatureFile(File({good}))->size(), 1u);
  EXPECT_EQ(ParseSignatureFile(File(std::vector<std::string>(8, good)))->size(), 8u);
  EXPECT_FALSE(ParseSignatureFile(File(std::vector<std::string>(9, good)))) << "9 entries";
  EXPECT_FALSE(ParseSignatureFile("[]"));
  EXPECT_FALSE(ParseSignatureFile("\xEF\xBB\xBF" + File({good}))) << "byte order mark";
  EXPECT_FALSE(ParseSignatureFile(good));
  EXPECT_FALSE(ParseSignatureFile(File({good, R"({"keyId":"a"})"})));
  EXPECT_FALSE(ParseSignatureFile(File({Entry("", "AAAA")})));
  EXPECT_FALSE(ParseSignatureFile(File({Entry("a", "")})));
  EXPECT_FALSE(ParseSignatureFile(File({R"({"keyId":1,"sig":"AAAA"})"})));
  EXPECT_FALSE(ParseSignatureFile(File({good, "5"})));
  EXPECT_FALSE(ParseSignatureFile(File({good}) + " x"));
}

TEST(SignatureFile, EntriesAreTriedInOrderAndTheFirstThatVerifiesDecides) {
  const SignatureVerifier verify = MakeVerifier({{"key-a", "rsa-sha256", KeyA().spki},
                                                 {"key-b", "rsa-sha256", KeyB().spki},
                                                 {"key-c", "rsa-sha1", KeyB().spki},
                                                 {"key-a", "rsa-sha256", KeyB().spki}});
  const std::string sigA = KeyA().Sign(kManifest);
  const std::string sigB = KeyB().Sign(kManifest);
  SigVerdict verdict = verify(kManifest, File({Entry("unknown", sigA), Entry("key-a", "!!!!"), Entry("key-a", sigA)}));
  EXPECT_TRUE(verdict.ok);
  EXPECT_EQ(verdict.keyId, "key-a");
  EXPECT_EQ(verify(kManifest, File({Entry("key-b", sigB)})).keyId, "key-b");
  EXPECT_FALSE(verify(kManifest, File({Entry("key-c", sigB)})).ok) << "only rsa-sha256 rows";
  EXPECT_FALSE(verify(kManifest, File({Entry("key-a", sigB)})).ok) << "the first row with an id decides";
  EXPECT_FALSE(verify(kManifest + " ", File({Entry("key-a", sigA)})).ok);
  const SigVerdict refused = verify(kManifest, File(std::vector<std::string>(9, Entry("key-a", sigA))));
  EXPECT_FALSE(refused.ok);
  EXPECT_TRUE(refused.keyId.empty());
  EXPECT_FALSE(verify(kManifest, "\xEF\xBB\xBF" + File({Entry("key-a", sigA)})).ok);
}

TEST(TrustedKey, CompiledBehindTheMarkerAndUsable) {
  const auto keys = CompiledTrustedKeys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].keyId, "tv-desktop-2026-11");
  EXPECT_EQ(keys[0].algorithm, "rsa-sha256");
  EXPECT_EQ(std::memcmp(keys[0].der.data() - 16, "TALVEKTRUSTKEY1\0", 16), 0);
  const RsaPublicKey key = ParseRsaPublicKeyDer(keys[0].der);
  EXPECT_TRUE(key.usable);
  EXPECT_EQ(key.modulusBits, 3072u);
#ifdef TALVEK_DEV_SIGNING_KEY
  FILE* file = std::fopen(TALVEK_DEV_SIGNING_KEY, "r");
  ASSERT_NE(file, nullptr);
  const Signer dev(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  const SigVerdict verdict = MakeNativeVerifier()(kManifest, File({Entry("tv-desktop-2026-11", dev.Sign(kManifest))}));
  EXPECT_TRUE(verdict.ok);
  EXPECT_EQ(verdict.keyId, "tv-desktop-2026-11");
#endif
}

}  // namespace
}  // namespace VirelantDesktop::updater
