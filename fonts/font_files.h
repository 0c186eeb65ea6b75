// Font files compared and recognised by their bytes: the hash that names a
// copy, the quick equality of two copies, and the test that a file in the
// user's font folder is one of ours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace VirelantDesktop::fonts {

// FNV-1a, 32 bits, over `bytes`, continuing from `state`.
inline constexpr std::uint32_t kFnvOffset = 0x811C9DC5u;
std::uint32_t Fnv1a(std::uint32_t state, std::string_view bytes) noexcept;
// 8 lower-case hexadecimal digits.
std::string HashText(std::uint32_t hash);

// The hash of the whole file read from its start; "811c9dc5" (the hash of
// nothing) when it cannot be read.
std::string FontFileHash(const platform::UniqueFd& file);

// The length of a font file's header: 12 bytes of offset table, then 16 per
// table record (the table count is the big-endian number at bytes 4-5).
// nullopt-like 0 when `start` holds fewer than 6 bytes.
std::size_t FontHeaderLength(std::string_view start) noexcept;

// Two regular files of the same size are equal when, with the same
// last-write time, their font headers are equal (a header that cannot be
// read whole is not equal), or, with different times, their whole contents.
bool FontFilesEqual(const platform::UniqueFd& a, const platform::UniqueFd& b);
// Byte for byte, whatever the times.
bool FileContentsEqual(const platform::UniqueFd& a, const platform::UniqueFd& b);

// Whether `file`, named `name` in the user's font folder, is provably ours:
// a shipped name whose bytes equal the shipped copy in `executableDir` +
// "/Fonts/" (when `executableDir` is not empty) or whose size and hash are
// a known build's; any other name ending in its own hash + ".ttf".
bool IsGenuineFontFile(const platform::UniqueFd& file, std::string_view name, const std::string& executableDir);

}  // namespace VirelantDesktop::fonts
