// Fuzzes the attachment file-name rules: any bytes give a name that can be
// saved as it is, and sanitizing that name again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/utf.h"
#include "modules/attach/file_name.h"

using VirelantDesktop::attach::SanitizeFileName;
using VirelantDesktop::host::Utf16ToUtf8;
using VirelantDesktop::host::Utf8ToUtf16;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = SanitizeFileName(std::string(reinterpret_cast<const char*>(data), size));
  const std::u16string units = Utf8ToUtf16(name);
  if (Utf16ToUtf8(units) != name) __builtin_trap();  // ill-formed UTF-8 would not come back unchanged
  if (name.empty() || name.size() > 255 || units.size() > 100) __builtin_trap();
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) __builtin_trap();
  if (name.front() == '.' || name.front() == ' ' || name.back() == '.' || name.back() == ' ') __builtin_trap();
  if (SanitizeFileName(name) != name) __builtin_trap();
  return 0;
}
