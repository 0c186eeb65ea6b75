// SHA-256 of package files. The compression runs on the CPU's SHA
// extensions when it has them (x86 SHA-NI, checked once at run time), else
// on a portable implementation; both give the same digests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace VirelantDesktop::updater {

using Sha256Digest = std::array<uint8_t, 32>;

// A streaming digest: Update() any number of times, then Final(). Final()
// leaves the object reset, ready for the next message; Reset() drops a
// message half-way.
class Sha256 {
 public:
  Sha256() { Reset(); }

  void Reset() noexcept;
  void Update(const void* data, size_t size) noexcept;
  Sha256Digest Final() noexcept;

 private:
  std::array<uint32_t, 8> state_{};
  std::array<uint8_t, 64> block_{};  // the partial block not yet compressed
  size_t blockUsed_ = 0;
  uint64_t totalBytes_ = 0;
};

// 64 lower-case hexadecimal digits.
std::string Sha256Hex(const Sha256Digest& digest);

// The digest of the file's content, read in 1 MiB blocks. nullopt when the
// file cannot be opened or read to its end.
std::optional<Sha256Digest> Sha256OfFile(const std::string& path);

// True when digests made from now on use the CPU's SHA extensions.
bool Sha256UsesCpuExtensions() noexcept;

// Tests and benchmarks: true makes every later compression portable, false
// returns to the run-time choice.
void ForcePortableSha256ForTesting(bool force) noexcept;

}  // namespace VirelantDesktop::updater
