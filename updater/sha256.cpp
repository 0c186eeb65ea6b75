#include "updater/sha256.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>

#include "platform/file_reader.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define TALVEK_SHA256_X86 1
#else
#define TALVEK_SHA256_X86 0
#endif

namespace VirelantDesktop::updater {
namespace {

constexpr size_t kBlockBytes = 64;
constexpr size_t kFileBlockBytes = size_t{1} << 20;

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::array<uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t LoadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void StoreBigEndian32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// ---- portable ---------------------------------------------------------------------------

void CompressPortable(uint32_t* state, const uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += kBlockBytes) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian32(data + 4 * i);
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t s1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
      const uint32_t choose = (e & f) ^ (~e & g);
      const uint32_t t1 = h + s1 + choose + kRound[i] + w[i];
      const uint32_t s0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
      const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
      const uint32_t t2 = s0 + majority;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

// ---- x86 SHA extensions -------------------------------------------------------------------

#if TALVEK_SHA256_X86

// Four rounds on the message words `msg` (already in host order).
__attribute__((target("sha,sse4.1"), always_inline)) inline void FourRounds(__m128i& abef, __m128i& cdgh,
                                                                             __m128i msg, int group) {
  __m128i words = _mm_add_epi32(msg, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
  words = _mm_shuffle_epi32(words, 0x0E);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
}

// The next four schedule words from the previous sixteen (m0 oldest).
__attribute__((target("sha,sse4.1"), always_inline)) inline __m128i NextWords(__m128i m0, __m128i m1, __m128i m2,
                                                                               __m128i m3) {
  const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4));
  return _mm_sha256msg2_epu32(partial, m3);
}

__attribute__((target("sha,sse4.1"))) void CompressShaNi(uint32_t* state, const uint8_t* data, size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  // The instructions keep the state as ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks > 0; --blocks, data += kBlockBytes) {
    const __m128i abefBefore = abef;
    const __m128i cdghBefore = cdgh;
    const __m128i* in = reinterpret_cast<const __m128i*>(data);
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byteSwap);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);
    FourRounds(abef, cdgh, m0, 0);
    FourRounds(abef, cdgh, m1, 1);
    FourRounds(abef, cdgh, m2, 2);
    FourRounds(abef, cdgh, m3, 3);
#pragma GCC unroll 12
    for (int group = 4; group < 16; ++group) {
      const __m128i next = NextWords(m0, m1, m2, m3);
      FourRounds(abef, cdgh, next, group);
      m0 = m1;
      m1 = m2;
      m2 = m3;
      m3 = next;
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

// Asked of the CPU directly (leaf 7: SHA in EBX bit 29; leaf 1: SSSE3 in ECX
// bit 9, SSE4.1 in bit 19): not every compiler knows the "sha" feature name.
bool CpuHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return sha && ssse3 && sse41;
}

#else

bool CpuHasShaExtensions() { return false; }

#endif

std::atomic<bool> g_forcePortable{false};

bool UseCpuExtensions() noexcept {
  static const bool available = CpuHasShaExtensions();
  return available && !g_forcePortable.load(std::memory_order_relaxed);
}

void Compress(uint32_t* state, const uint8_t* data, size_t blocks) {
#if TALVEK_SHA256_X86
  if (UseCpuExtensions()) {
    CompressShaNi(state, data, blocks);
    return;
  }
#endif
  CompressPortable(state, data, blocks);
}

}  // namespace

void Sha256::Reset() noexcept {
  state_ = kInitialState;
  blockUsed_ = 0;
  totalBytes_ = 0;
}

void Sha256::Update(const void* data, size_t size) noexcept {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  totalBytes_ += size;
  if (blockUsed_ > 0) {
    const size_t take = std::min(size, kBlockBytes - blockUsed_);
    std::memcpy(block_.data() + blockUsed_, in, take);
    blockUsed_ += take;
    in += take;
    size -= take;
    if (blockUsed_ < kBlockBytes) return;
    Compress(state_.data(), block_.data(), 1);
    blockUsed_ = 0;
  }
  const size_t whole = size / kBlockBytes;
  if (whole > 0) {
    Compress(state_.data(), in, whole);
    in += whole * kBlockBytes;
    size -= whole * kBlockBytes;
  }
  if (size > 0) {
    std::memcpy(block_.data(), in, size);
    blockUsed_ = size;
  }
}

Sha256Digest Sha256::Final() noexcept {
  // 0x80, zeros up to 56 bytes into a block, then the length in bits.
  const uint64_t bits = totalBytes_ * 8;
  block_[blockUsed_++] = 0x80;
  if (blockUsed_ > kBlockBytes - 8) {
    std::memset(block_.data() + blockUsed_, 0, kBlockBytes - blockUsed_);
    Compress(state_.data(), block_.data(), 1);
    blockUsed_ = 0;
  }
  std::memset(block_.data() + blockUsed_, 0, kBlockBytes - 8 - blockUsed_);
  StoreBigEndian32(block_.data() + 56, static_cast<uint32_t>(bits >> 32));
  StoreBigEndian32(block_.data() + 60, static_cast<uint32_t>(bits));
  Compress(state_.data(), block_.data(), 1);

  Sha256Digest digest;
  for (size_t i = 0; i < 8; ++i) StoreBigEndian32(digest.data() + 4 * i, state_[i]);
  Reset();
  return digest;
}

std::string Sha256Hex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(2 * digest.size(), '\0');
  for (size_t i = 0; i < digest.size(); ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  return hex;
}

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
  platform::FileReader reader;
  if (!reader.Open(path)) return std::nullopt;
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kFileBlockBytes);
  Sha256 hash;
  for (;;) {
    const std::optional<size_t> got = reader.ReadBlock(buffer.get(), kFileBlockBytes);
    if (!got) return std::nullopt;
    if (*got == 0) break;
    hash.Update(buffer.get(), *got);
    if (*got < kFileBlockBytes) break;
  }
  return hash.Final();
}

bool Sha256UsesCpuExtensions() noexcept { return UseCpuExtensions(); }

void ForcePortableSha256ForTesting(bool force) noexcept { g_forcePortable.store(force, std::memory_order_relaxed); }

}  // namespace VirelantDesktop::updater
