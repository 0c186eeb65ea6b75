// Fuzzes the UTF-8 <-> UTF-16 conversions that every string crossing into
// the JavaScript engine goes through (engine output lines, file names, HTTP
// headers all arrive as arbitrary bytes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/utf.h"

using VirelantDesktop::host::Utf16ToUtf8;
using VirelantDesktop::host::Utf8ToUtf16;

namespace {

bool HasUnpairedSurrogate(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Bytes as UTF-8: the result is well-formed UTF-16, and converting it back
  // and forth again changes nothing.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = Utf8ToUtf16(bytes);
  if (HasUnpairedSurrogate(wide)) abort();
  const std::string narrow = Utf16ToUtf8(wide);
  if (Utf8ToUtf16(narrow) != wide) abort();
  if (narrow.size() > 3 * bytes.size()) abort();

  // Bytes as UTF-16 code units: only unpaired surrogates change.
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const std::u16string back = Utf8ToUtf16(Utf16ToUtf8(units));
  if (HasUnpairedSurrogate(back)) abort();
  if (!HasUnpairedSurrogate(units) && back != units) abort();
  return 0;
}
