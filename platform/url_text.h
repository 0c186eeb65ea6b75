// Small text rules that URL and path checks share: percent escapes, the
// bytes a URL may not carry unescaped, and UTF-8 well-formedness.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace VirelantDesktop::platform {

// 0-15 for a hex digit (either case), -1 otherwise.
int HexDigitValue(char c) noexcept;

// "%" and two hex digits become that byte; every other byte, and a "%"
// without two hex digits after it, is copied unchanged ("+" stays "+").
std::string PercentDecode(std::string_view text);

// True when every "%" is followed by two hex digits.
bool PercentEscapesWellFormed(std::string_view text) noexcept;

// Bytes no URL may carry unescaped: controls and blank (0x00-0x20), DEL, and
// " < > \ ^ ` { | }.
bool IsUnsafeUrlByte(unsigned char c) noexcept;

// The length of the longest prefix of `text` that is well-formed UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF).
size_t WellFormedUtf8Prefix(std::string_view text) noexcept;
inline bool IsWellFormedUtf8(std::string_view text) noexcept { return WellFormedUtf8Prefix(text) == text.size(); }

}  // namespace VirelantDesktop::platform
