#include "modules/attach/file_name.h"

#include <algorithm>
#include <cstdint>

namespace VirelantDesktop::attach {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::u16string_view kFallbackStem = u"file";

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

bool IsDropped(char32_t cp) {
  if (cp < 0x20 || cp == 0x7F) return true;
  switch (cp) {
    case U'/': case U'\\': case U':': case U'*': case U'?': case U'"': case U'<': case U'>': case U'|':
    case 0x061C: case 0x200B: case 0x200E: case 0x200F: case 0x2060: case 0xFEFF:
      return true;
    default:
      return (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
  }
}

bool IsDotOrSpace(char16_t u) { return u == u'.' || u == u' '; }

// The well-formed sequence at in[i] (Unicode table 3-7): its length, or 0.
size_t DecodeAt(std::string_view in, size_t i, char32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(in[i + k]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t length = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (in.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char b = byte(k);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  return length;
}

// UTF-8 to UTF-16 without the dropped characters; each byte that does not
// start a well-formed sequence becomes one U+FFFD.
std::u16string DecodeKept(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    char32_t cp = 0;
    const size_t length = DecodeAt(in, i, cp);
    if (length == 0) cp = kReplacement;
    i += std::max<size_t>(length, 1);
    if (IsDropped(cp)) continue;
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size() * 3);
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (IsHighSurrogate(in[i])) cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);  // always paired here
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// UTF-8 bytes of one code unit (a surrogate pair: 2 + 2).
size_t Utf8Bytes(char16_t u) {
  if (u < 0x80) return 1;
  if (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF)) return 2;
  return 3;
}

size_t Utf8Length(std::u16string_view s) {
  size_t n = 0;
  for (char16_t u : s) n += Utf8Bytes(u);
  return n;
}

void TrimTrailingDotsAndSpaces(std::u16string& s) {
  while (!s.empty() && IsDotOrSpace(s.back())) s.pop_back();
}

// Cuts s to at most `units` code units, dropping a pair the cut would split.
void CutUnits(std::u16string& s, size_t units) {
  if (s.size() <= units) return;
  s.resize(units);
  if (!s.empty() && IsHighSurrogate(s.back())) s.pop_back();
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 in any case, trailing spaces
// ignored. Only ASCII letters upper-case to these, so ASCII upper-casing is
// enough.
bool IsDeviceName(std::u16string_view part) {
  while (!part.empty() && part.back() == u' ') part.remove_suffix(1);
  if (part.size() != 3 && part.size() != 4) return false;
  char upper[4] = {};
  for (size_t i = 0; i < part.size(); ++i) {
    char16_t c = part[i];
    if (c > 0x7F) return false;
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    upper[i] = static_cast<char>(c);
  }
  const std::string_view name(upper, part.size());
  if (name.size() == 3) return name == "CON" || name == "PRN" || name == "AUX" || name == "NUL";
  return (name.substr(0, 3) == "COM" || name.substr(0, 3) == "LPT") && name[3] >= '1' && name[3] <= '9';
}

// The stem becomes "file" when its part before the first dot is a device
// name ("Com1.tar" of "Com1.tar.gz" -> "file"; the extension stays).
void ReplaceDeviceName(std::u16string& stem) {
  const size_t end = std::min(stem.find(u'.'), stem.size());
  if (IsDeviceName(std::u16string_view(stem).substr(0, end))) stem = kFallbackStem;
}

// The name from a cleaned stem and extension: the stem loses whole
// characters from its end until the whole fits 255 bytes (`ext` is at most
// 40 units, 118 bytes), then the device-name check runs once more (the cuts
// can leave "CON" + 100 spaces + "x.txt" as "CON"), and an empty stem
// becomes "file", which keeps within the limits.
std::string FinishName(std::u16string stem, std::u16string_view ext) {
  const size_t extBytes = Utf8Length(ext);
  if (Utf8Length(stem) + extBytes > kMaxNameBytes) {
    const size_t budget = kMaxNameBytes - extBytes;
    size_t kept = 0, bytes = 0;
    while (kept < stem.size()) {
      const size_t units = IsHighSurrogate(stem[kept]) ? 2 : 1;
      const size_t charBytes = units == 2 ? 4 : Utf8Bytes(stem[kept]);
      if (bytes + charBytes > budget) break;
      bytes += charBytes;
      kept += units;
    }
    stem.resize(kept);
    TrimTrailingDotsAndSpaces(stem);
  }
  ReplaceDeviceName(stem);
  if (stem.empty()) stem = kFallbackStem;
  return EncodeUtf8(stem) + EncodeUtf8(ext);
}

}  // namespace

std::string SanitizeFileName(std::string_view utf8Name) {
  std::u16string stem = DecodeKept(utf8Name);
  stem.erase(0, std::find_if_not(stem.begin(), stem.end(), IsDotOrSpace) - stem.begin());
  TrimTrailingDotsAndSpaces(stem);

  // The first character is no dot now, so a dot found is never at 0.
  std::u16string ext;
  for (size_t dot; (dot = stem.rfind(u'.')) != std::u16string::npos;) {
    ext = stem.substr(dot);
    stem.resize(dot);
    if (ext.size() <= kMaxExtensionUnits) break;
    CutUnits(ext, kMaxExtensionUnits);
    // A cut can leave spaces at the end of the name; when nothing but the
    // dot is left the extension says nothing, and the name before it is
    // split again (an extension of only the dot would end the name in one).
    while (ext.back() == u' ') ext.pop_back();
    if (ext.size() > 1) break;
    ext.clear();
    TrimTrailingDotsAndSpaces(stem);
  }

  ReplaceDeviceName(stem);
  CutUnits(stem, kMaxNameUnits - ext.size());
  TrimTrailingDotsAndSpaces(stem);

  // The extension takes at most 118 bytes (the dot, then 39 units of at most
  // 3 bytes each), so the stem keeps at least 134 bytes here.
  return FinishName(std::move(stem), ext);
}

std::string WithExtension(std::string_view name, std::string_view extension) {
  std::u16string ext = DecodeKept(extension);
  CutUnits(ext, kMaxExtensionUnits - 1);
  while (!ext.empty() && IsDotOrSpace(ext.back())) ext.pop_back();
  if (ext.empty()) return std::string(name);
  ext.insert(ext.begin(), u'.');
  return FinishName(DecodeKept(name), ext);
}

}  // namespace VirelantDesktop::attach
