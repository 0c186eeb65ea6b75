// UTF-8 <-> UTF-16 conversion for strings crossing into and out of the
// JavaScript engine (which stores UTF-16).
//
// Both directions accept any input: an ill-formed UTF-8 sequence becomes one
// U+FFFD per maximal subpart (the Unicode "substitution of maximal subparts"
// practice), and an unpaired surrogate becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace VirelantDesktop::host {

std::u16string Utf8ToUtf16(std::string_view utf8);
void AppendUtf8ToUtf16(std::string_view utf8, std::u16string& out);

std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace VirelantDesktop::host
