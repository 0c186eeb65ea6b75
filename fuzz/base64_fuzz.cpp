// Base64 round trips on arbitrary input:
//  - text that decodes must encode back to exactly the same text (strict
//    decoding accepts only the one canonical form of each byte string);
//  - any bytes must encode to text that decodes back to the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "platform/base64.h"

using VirelantDesktop::platform::Base64Decode;
using VirelantDesktop::platform::Base64Encode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto decoded = Base64Decode(text)) {
    if (decoded->size() != size / 4 * 3 - (size >= 1 && text[size - 1] == '=' ? 1 : 0) -
                               (size >= 2 && text[size - 2] == '=' ? 1 : 0)) {
      std::abort();
    }
    if (Base64Encode(std::span<const uint8_t>(*decoded)) != text) std::abort();
  }

  const std::span<const uint8_t> bytes(data, size);
  const std::string encoded = Base64Encode(bytes);
  if (encoded.size() != (size + 2) / 3 * 4) std::abort();
  if (encoded.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
      std::string::npos) {
    std::abort();
  }
  const auto roundTrip = Base64Decode(encoded);
  if (!roundTrip || roundTrip->size() != size ||
      !std::equal(roundTrip->begin(), roundTrip->end(), bytes.begin())) {
    std::abort();
  }
  return 0;
}
