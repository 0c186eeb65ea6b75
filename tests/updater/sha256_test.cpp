// The updater's SHA-256: the published test vectors, random messages fed in
// random pieces against OpenSSL, and file digests. The stream tests run on
// both compression paths (the CPU's SHA extensions are skipped where the CPU
// has none).
#include "updater/sha256.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::updater {
namespace {

using testing::TempDir;

std::string OpenSslHex(const void* data, size_t size) {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) != 1 || length != digest.size()) {
    ADD_FAILURE() << "EVP_Digest failed";
  }
  return Sha256Hex(digest);
}

std::vector<uint8_t> RandomBytes(std::mt19937_64& random, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

std::string HexOf(const std::string& message) {
  Sha256 hash;
  hash.Update(message.data(), message.size());
  return Sha256Hex(hash.Final());
}

// Feeds `bytes` in pieces of random sizes (empty pieces included; now and
// then one far longer than a block).
void UpdateInPieces(Sha256& hash, const std::vector<uint8_t>& bytes, std::mt19937_64& random) {
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t limit = random() % 8 == 0 ? 4096 : 130;
    const size_t piece = std::min<size_t>(random() % (limit + 1), bytes.size() - at);
    hash.Update(bytes.data() + at, piece);
    at += piece;
  }
}

// Parameter: true for the portable path, false for the CPU's SHA extensions.
class Sha256PathTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ForcePortableSha256ForTesting(GetParam());
    if (!GetParam() && !Sha256UsesCpuExtensions()) GTEST_SKIP() << "this CPU has no SHA extensions";
    if (GetParam()) {
      ASSERT_FALSE(Sha256UsesCpuExtensions());
    }
  }
  void TearDown() override { ForcePortableSha256ForTesting(false); }
};

TEST_P(Sha256PathTest, PublishedVectors) {
  EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string millionA(1'000'000, 'a');
  const std::string millionAHex = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
  EXPECT_EQ(HexOf(millionA), millionAHex);
  // The same million fed one byte at a time.
  Sha256 hash;
  for (char c : millionA) hash.Update(&c, 1);
  EXPECT_EQ(Sha256Hex(hash.Final()), millionAHex);
}

TEST_P(Sha256PathTest, RandomMessagesInRandomPiecesMatchOpenSsl) {
  std::mt19937_64 random(0x5EED0256 + GetParam());
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 1000; ++size) sizes.push_back(size);
  for (size_t size : {4095, 4096, 65'537, 1'048'576 + 63, 3'000'001}) sizes.push_back(size);
  // One object for every message: Final() must leave it ready for the next.
  Sha256 hash;
  for (size_t size : sizes) {
    const std::vector<uint8_t> bytes = RandomBytes(random, size);
    UpdateInPieces(hash, bytes, random);
    ASSERT_EQ(Sha256Hex(hash.Final()), OpenSslHex(bytes.data(), bytes.size())) << "size " << size;
  }
}

TEST_P(Sha256PathTest, ResetDropsAMessageHalfWay) {
  Sha256 hash;
  const std::string_view longer = "some bytes that are longer than one block of sixty-four bytes, to compress one";
  ASSERT_GT(longer.size(), 64u);
  hash.Update(longer.data(), longer.size());
  hash.Reset();
  hash.Update("abc", 3);
  EXPECT_EQ(Sha256Hex(hash.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha256PathTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& path) {
                           return path.param ? std::string("Portable") : std::string("CpuExtensions");
                         });

// Both paths keep the state in the same order, so a message may change path
// half-way (as it does when a test forces the portable path).
TEST(Sha256Test, PathsAgreeMidMessage) {
  std::mt19937_64 random(7);
  const std::vector<uint8_t> bytes = RandomBytes(random, 10'000);
  Sha256 hash;
  for (size_t at = 0; at < bytes.size(); at += 1000) {
    ForcePortableSha256ForTesting(at / 1000 % 2 == 0);
    hash.Update(bytes.data() + at, 1000);
  }
  ForcePortableSha256ForTesting(false);
  EXPECT_EQ(Sha256Hex(hash.Final()), OpenSslHex(bytes.data(), bytes.size()));
}

TEST(Sha256Test, HexIsLowerCase) {
  Sha256Digest digest{};
  for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(i * 8 + 7);
  EXPECT_EQ(Sha256Hex(digest), "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff");
}

TEST(Sha256OfFileTest, MatchesOpenSslAcrossReadBlocks) {
  TempDir dir;
  std::mt19937_64 random(11);
  // Empty, exactly two read blocks, and a short last block.
  for (size_t size : {size_t{0}, size_t{2} << 20, (size_t{3} << 20) + 123}) {
    const std::vector<uint8_t> bytes = RandomBytes(random, size);
    const std::string path = dir.Join("package-" + std::to_string(size));
    testing::WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(std::filesystem::file_size(path), size);
    const std::optional<Sha256Digest> digest = Sha256OfFile(path);
    ASSERT_TRUE(digest.has_value()) << "size " << size;
    EXPECT_EQ(Sha256Hex(*digest), OpenSslHex(bytes.data(), bytes.size())) << "size " << size;
  }
}

TEST(Sha256OfFileTest, NothingForAFileThatCannotBeRead) {
  TempDir dir;
  EXPECT_FALSE(Sha256OfFile(dir.Join("missing")).has_value());
  EXPECT_FALSE(Sha256OfFile(dir.Join("missing/below")).has_value());
  EXPECT_FALSE(Sha256OfFile(dir.path()).has_value());  // a folder opens, but does not read
}

}  // namespace
}  // namespace VirelantDesktop::updater
