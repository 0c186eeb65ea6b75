// The gate record and issued-at readers on arbitrary text: an accepted
// record or value written back is exactly the text read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "updater/issued_at_store.h"
#include "updater/update_policy.h"

using namespace VirelantDesktop::updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto gate = ParseGateText(text)) {
    if (BuildGateText(*gate) != text || gate->sha256.size() != 64 || gate->version.empty() || gate->file.empty() ||
        gate->file.find('/') != std::string::npos) {
      std::fprintf(stderr, "gate_record_fuzz: accepted text does not round-trip\n");
      __builtin_trap();
    }
  }
  if (const auto value = ParseIssuedAtText(text)) {
    if (IssuedAtText(*value) != text && text.find("-0") == std::string_view::npos &&
        text.find("\n0") == std::string_view::npos) {
      std::fprintf(stderr, "gate_record_fuzz: an issued-at value does not round-trip\n");
      __builtin_trap();
    }
  }
  ReadManifest(text);  // must not crash or throw
  return 0;
}
