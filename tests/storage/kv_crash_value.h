// The values kv_crash_writer stores and kv_crash_test checks: each one
// carries its sequence number, a payload of some kilobytes derived from that
// number, and a checksum, so a value that is cut short, mixed with another or
// otherwise damaged is recognised from the value alone.
//
//   "v" <n> ":" <payload(n)> ":" <16 hex digits: FNV-1a 64 of everything before>
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::testing::kvcrash {

// The members the writer sets: "k" first, then "p", on every step.
inline constexpr const char* kKey = "k";
inline constexpr const char* kSecondKey = "p";

inline uint64_t Fnv1a64(std::string_view bytes) noexcept {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// 6 to 10 KB of [0-9a-z] from a generator seeded with n; the length varies
// with n so consecutive files differ in size too.
inline std::string Payload(uint64_t n) {
  constexpr std::string_view kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
  const size_t length = 6 * 1024 + static_cast<size_t>(n % 9) * 512;
  uint64_t state = n * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;  // never 0
  std::string payload;
  payload.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    state ^= state << 13;  // xorshift64
    state ^= state >> 7;
    state ^= state << 17;
    payload.push_back(kAlphabet[state % kAlphabet.size()]);
  }
  return payload;
}

inline std::string Hex16(uint64_t value) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 0xF];
  return text;
}

inline std::string MakeValue(uint64_t n) {
  std::string value = "v" + std::to_string(n) + ":" + Payload(n);
  const uint64_t checksum = Fnv1a64(value);
  value += ':';
  value += Hex16(checksum);
  return value;
}

// The sequence number of a well-formed value; nullopt for anything else.
inline std::optional<uint64_t> CheckValue(std::string_view value) {
  if (value.size() < 2 || value[0] != 'v') return std::nullopt;
  uint64_t n = 0;
  const char* digits = value.data() + 1;
  const char* end = value.data() + value.size();
  const auto [next, error] = std::from_chars(digits, end, n);
  if (error != std::errc{} || next == digits || next == end || *next != ':') return std::nullopt;
  // Regenerating the whole value checks the payload byte for byte as well
  // as the checksum.
  if (value != MakeValue(n)) return std::nullopt;
  return n;
}

}  // namespace VirelantDesktop::testing::kvcrash
