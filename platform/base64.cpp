#include "platform/base64.h"

#include <array>

namespace VirelantDesktop::platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int8_t kInvalid = -1;

constexpr std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}

constexpr std::array<int8_t, 256> kDecodeTable = MakeDecodeTable();

}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kAlphabet[(group >> 18) & 0x3F]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(kAlphabet[(group >> 6) & 0x3F]);
    out.push_back(kAlphabet[group & 0x3F]);
  }
  const size_t rest = bytes.size() - i;
  if (rest == 1) {
    const uint32_t group = uint32_t{bytes[i]} << 16;
    out.push_back(kAlphabet[(group >> 18) & 0x3F]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.append("==");
  } else if (rest == 2) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8);
    out.push_back(kAlphabet[(group >> 18) & 0x3F]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(kAlphabet[(group >> 6) & 0x3F]);
    out.push_back('=');
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;

  // Padding may only close the last group, one or two characters long.
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') {
    padding = 1;
    if (text[text.size() - 2] == '=') padding = 2;
  }
  const size_t dataChars = text.size() - padding;

  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  uint32_t accumulator = 0;
  int bits = 0;
  for (size_t i = 0; i < dataChars; ++i) {
    // Any "=" here is padding in the wrong place; the table rejects it.
    const int8_t value = kDecodeTable[static_cast<uint8_t>(text[i])];
    if (value == kInvalid) return std::nullopt;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(accumulator >> bits));
      accumulator &= (1u << bits) - 1;
    }
  }
  // What is left over are the unused low bits of the last character (4 bits
  // with "==", 2 with "="). They must be zero, so that each byte string has
  // exactly one encoding.
  if (accumulator != 0) return std::nullopt;
  return out;
}

}  // namespace VirelantDesktop::platform
