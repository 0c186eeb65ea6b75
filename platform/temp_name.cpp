#include "platform/temp_name.h"

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/process_setup.h"
#include "platform/random_id.h"

namespace VirelantDesktop::platform {
namespace {

std::string NameOf(uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name(kTempNameBytes, '.');
  for (size_t i = 0; i < 16; ++i) name[1 + i] = kHex[(value >> (60 - 4 * i)) & 0x0F];
  name.replace(17, 4, ".tmp");
  return name;
}

// SplitMix64's finaliser: every input bit reaches every output bit.
uint64_t Mix(uint64_t value) noexcept {
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

}  // namespace

std::string RandomTempName() {
  uint64_t value = 0;
  if (!FillRandom(&value, sizeof value)) {
    // Uniqueness is all a temporary name needs (it is created exclusively).
    static std::atomic<uint64_t> counter{0};
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    value = Mix(now ^ Mix(static_cast<uint64_t>(CurrentProcessId())) ^ Mix(counter.fetch_add(1) + 1));
  }
  return NameOf(value);
}

std::string TempNameFor(std::string_view targetName) {
  // FNV-1a over the name, then mixed: stable across runs and builds.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : targetName) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return NameOf(Mix(hash));
}

}  // namespace VirelantDesktop::platform
