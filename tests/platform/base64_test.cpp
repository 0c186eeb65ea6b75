#include "platform/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace VirelantDesktop::platform {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

struct Vector {
  std::string_view plain;
  std::string_view encoded;
};

// RFC 4648, section 10, plus the two characters past "9" and byte values
// that only arise outside ASCII.
constexpr Vector kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"\xfb\xff", "+/8="},
    {"\xff\xff\xff", "////"},
    {std::string_view("\0\0\0", 3), "AAAA"},
    {std::string_view("\0", 1), "AA=="},
};

TEST(Base64Test, EncodesKnownVectors) {
  for (const auto& [plain, encoded] : kVectors) {
    SCOPED_TRACE(std::string(encoded));
    EXPECT_EQ(Base64Encode(plain), encoded);
    const std::vector<uint8_t> bytes = Bytes(plain);
    EXPECT_EQ(Base64Encode(std::span<const uint8_t>(bytes)), encoded);
  }
}

TEST(Base64Test, DecodesKnownVectors) {
  for (const auto& [plain, encoded] : kVectors) {
    SCOPED_TRACE(std::string(encoded));
    const auto decoded = Base64Decode(encoded);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Bytes(plain));
  }
}

TEST(Base64Test, EveryAlphabetCharacterDecodesToItsValue) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto decoded = Base64Decode(kAlphabet);
  ASSERT_TRUE(decoded.has_value());
  // Sixty-four 6-bit values 0..63 in order, packed into 48 bytes.
  ASSERT_EQ(decoded->size(), 48u);
  for (size_t i = 0; i < 64; ++i) {
    const size_t bit = i * 6;
    const unsigned pair = (unsigned{(*decoded)[bit / 8]} << 8) |
                          (bit / 8 + 1 < decoded->size() ? (*decoded)[bit / 8 + 1] : 0u);
    EXPECT_EQ((pair >> (10 - bit % 8)) & 0x3F, i) << "character " << kAlphabet[i];
  }
  EXPECT_EQ(Base64Encode(std::span<const uint8_t>(*decoded)), kAlphabet);
}

TEST(Base64Test, RoundTripsEveryLengthAndByteValue) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  for (size_t length = 0; length <= 64; ++length) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(byte(random));
    const std::string encoded = Base64Encode(std::span<const uint8_t>(data));
    EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4);
    EXPECT_EQ(Base64Decode(encoded), data);
  }
  std::vector<uint8_t> all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(Base64Decode(Base64Encode(std::span<const uint8_t>(all))), all);
}

TEST(Base64Test, RejectsAnythingButTheCanonicalForm) {
  struct Case {
    const char* why;
    std::string_view text;
  };
  const Case cases[] = {
      {"length not a multiple of 4", "Zg"},
      {"length not a multiple of 4", "Zg="},
      {"length not a multiple of 4", "Zm9vY"},
      {"missing padding", "Zm8"},
      {"extra padding group", "Zm9v===="},
      {"padding only", "===="},
      {"three padding characters", "Z==="},
      {"padding inside the last group", "Z=g="},
      {"padding after padding-free data", "Zg=a"},
      {"padding before the last group", "Zg==Zm9v"},
      {"padding before the last group", "Zm8=Zm9v"},
      {"line break", "Zm9v\nYmFy"},
      {"trailing line break", "Zm9vYmE=\n"},
      {"space", "Zm 9"},
      {"tab", "Zm9\t"},
      {"URL-safe alphabet", "Zm9-"},
      {"URL-safe alphabet", "Zm9_"},
      {"punctuation", "Zm9."},
      {"non-ASCII byte", "Zm9\xc3"},
      {"NUL byte", std::string_view("Zm\0v", 4)},
      {"unused bits set before ==", "Zh=="},
      {"unused bits set before ==", "Zv=="},
      {"unused bits set before =", "Zm9="},
      {"unused bits set before =", "Zm/="},
  };
  for (const auto& [why, text] : cases) {
    SCOPED_TRACE(::testing::Message() << why << ": \"" << text << '"');
    EXPECT_EQ(Base64Decode(text), std::nullopt);
  }
}

}  // namespace
}  // namespace VirelantDesktop::platform
