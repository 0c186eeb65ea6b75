// The gate record reader on arbitrary text: an accepted record written back
// is exactly the text read, and its fields keep their rules.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

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
  ReadManifest(text);  // must not crash or throw
  return 0;
}
