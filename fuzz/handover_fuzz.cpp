// The hand-over message a later start sends to the running instance:
//  - any bytes decode without a crash, and what decodes re-encodes to exactly
//    the same message (one canonical form);
//  - the arguments decoded from a message never exceed the size cap;
//  - arguments cut from the input (at NUL) survive an encode/decode round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/single_instance.h"

using VirelantDesktop::platform::DecodeHandOver;
using VirelantDesktop::platform::EncodeHandOver;
using VirelantDesktop::platform::kMaxHandOverBytes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  if (const auto arguments = DecodeHandOver(message)) {
    if (size > kMaxHandOverBytes + 8) std::abort();
    if (EncodeHandOver(*arguments) != message) std::abort();
  }

  std::vector<std::string> arguments;
  std::string current;
  for (char c : message) {
    if (c == '\0') {
      arguments.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  const std::string encoded = EncodeHandOver(arguments);
  const auto decoded = DecodeHandOver(encoded);
  if (encoded.size() <= kMaxHandOverBytes + 8) {
    if (!decoded || *decoded != arguments) std::abort();
  }
  return 0;
}
