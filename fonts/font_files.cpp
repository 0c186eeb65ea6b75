#include "fonts/font_files.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "fonts/font_tables.h"
#include "platform/ascii_text.h"
#include "platform/confined_file.h"

namespace VirelantDesktop::fonts {
namespace {

constexpr std::size_t kHashBlock = 32768;
constexpr std::size_t kCompareBlock = 65536;
constexpr std::size_t kOffsetTableBytes = 12;
constexpr std::size_t kTableRecordBytes = 16;
constexpr std::size_t kHashedSuffixBytes = 12;  // 8 digits + ".ttf"

// The first `length` bytes of the file; nullopt when it has fewer or cannot
// be read.
std::optional<std::string> ReadStart(const platform::UniqueFd& file, std::size_t length) {
  std::string bytes(length, '\0');
  const auto read = platform::ReadAt(file, 0, bytes.data(), length);
  if (!read || *read < length) return std::nullopt;
  return bytes;
}

std::optional<std::string> FontHeader(const platform::UniqueFd& file) {
  const auto start = ReadStart(file, kOffsetTableBytes);
  if (!start) return std::nullopt;
  return ReadStart(file, FontHeaderLength(*start));
}

}  // namespace

std::uint32_t Fnv1a(std::uint32_t state, std::string_view bytes) noexcept {
  for (unsigned char byte : bytes) {
    state ^= byte;
    state *= 16777619u;
  }
  return state;
}

std::string HashText(std::uint32_t hash) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", hash);
  return text;
}

std::string FontFileHash(const platform::UniqueFd& file) {
  std::uint32_t hash = kFnvOffset;
  std::vector<char> block(kHashBlock);
  for (std::uint64_t offset = 0;;) {
    const auto read = platform::ReadAt(file, offset, block.data(), block.size());
    if (!read) return HashText(kFnvOffset);
    hash = Fnv1a(hash, std::string_view(block.data(), *read));
    if (*read < block.size()) return HashText(hash);
    offset += *read;
  }
}

std::size_t FontHeaderLength(std::string_view start) noexcept {
  if (start.size() < 6) return 0;
  const std::size_t tables = (static_cast<unsigned char>(start[4]) << 8) | static_cast<unsigned char>(start[5]);
  return kOffsetTableBytes + kTableRecordBytes * tables;
}

bool FileContentsEqual(const platform::UniqueFd& a, const platform::UniqueFd& b) {
  const auto statA = platform::StatOpenFile(a);
  const auto statB = platform::StatOpenFile(b);
  if (!statA || !statB || !statA->regular || !statB->regular || statA->size != statB->size) return false;
  std::vector<char> blockA(kCompareBlock);
  std::vector<char> blockB(kCompareBlock);
  for (std::uint64_t offset = 0;;) {
    const auto readA = platform::ReadAt(a, offset, blockA.data(), blockA.size());
    const auto readB = platform::ReadAt(b, offset, blockB.data(), blockB.size());
    if (!readA || !readB || *readA != *readB) return false;
    if (!std::equal(blockA.begin(), blockA.begin() + static_cast<std::ptrdiff_t>(*readA), blockB.begin())) return false;
    if (*readA < blockA.size()) return true;
    offset += *readA;
  }
}

bool FontFilesEqual(const platform::UniqueFd& a, const platform::UniqueFd& b) {
  const auto statA = platform::StatOpenFile(a);
  const auto statB = platform::StatOpenFile(b);
  if (!statA || !statB || !statA->regular || !statB->regular || statA->size != statB->size) return false;
  if (statA->modifiedNs != statB->modifiedNs) return FileContentsEqual(a, b);
  const auto headerA = FontHeader(a);
  const auto headerB = FontHeader(b);
  return headerA && headerB && *headerA == *headerB;
}

bool IsGenuineFontFile(const platform::UniqueFd& file, std::string_view name, const std::string& executableDir) {
  const auto stat = platform::StatOpenFile(file);
  if (!stat || !stat->regular) return false;
  for (const auto& row : kFontFileTable) {
    if (name != row.file) continue;
    if (!executableDir.empty()) {
      const auto shipped = platform::OpenRegularFileByPath(executableDir + "/Fonts/" + std::string(name));
      if (shipped && FileContentsEqual(file, shipped)) return true;
    }
    for (const auto& known : KnownFontTable()) {
      if (known.file == name && known.size == stat->size &&
          platform::EqualsIgnoringAsciiCase(known.hash, FontFileHash(file))) {
        return true;
      }
    }
    return false;
  }
  if (name.size() < kHashedSuffixBytes) return false;
  const std::string_view digits = name.substr(name.size() - kHashedSuffixBytes, 8);
  return platform::EqualsIgnoringAsciiCase(digits, FontFileHash(file));
}

}  // namespace VirelantDesktop::fonts
