#include "updater/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

namespace VirelantDesktop::updater {
namespace {

[[noreturn]] void Fail() { throw JsonError(); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue ParseDocument() {
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    SkipWhitespace();
    JsonValue value = ParseValue(1);
    SkipWhitespace();
    if (pos_ != text_.size()) Fail();
    return value;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  unsigned char Byte() const { return static_cast<unsigned char>(Peek()); }

  void Expect(char c) {
    if (AtEnd() || text_[pos_] != c) Fail();
    ++pos_;
  }

  void SkipWhitespace() {
    while (!AtEnd()) {
      const char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
      ++pos_;
    }
  }

  // `depth` is the depth of the value about to be read (the top level is 1).
  // Each container calls back here with depth + 1 at most once per level, so
  // the recursion is bounded by kMaxJsonDepth.
  JsonValue ParseValue(int depth) {
    if (AtEnd()) Fail();
    switch (text_[pos_]) {
      case '{':
        if (depth > kMaxJsonDepth) Fail();
        return ParseObject(depth);
      case '[':
        if (depth > kMaxJsonDepth) Fail();
        return ParseArray(depth);
      case '"':
        return JsonValue::String(ParseString());
      case 't':
        ParseLiteral("true");
        return JsonValue::Boolean(true);
      case 'f':
        ParseLiteral("false");
        return JsonValue::Boolean(false);
      case 'n':
        ParseLiteral("null");
        return JsonValue::Null();
      default:
        return ParseNumber();
    }
  }

  void ParseLiteral(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) Fail();
    pos_ += word.size();
  }

  JsonValue ParseArray(int depth) {
    Expect('[');
    JsonArray elements;
    SkipWhitespace();
    if (Peek() == ']') {
      ++pos_;
      return JsonValue::Array(std::move(elements));
    }
    for (;;) {
      SkipWhitespace();
      elements.push_back(ParseValue(depth + 1));
      SkipWhitespace();
      if (Peek() == ']') {
        ++pos_;
        return JsonValue::Array(std::move(elements));
      }
      Expect(',');
    }
  }

  JsonValue ParseObject(int depth) {
    Expect('{');
    JsonObject members;
    SkipWhitespace();
    if (Peek() == '}') {
      ++pos_;
      return JsonValue::Object(std::move(members));
    }
    for (;;) {
      SkipWhitespace();
      if (Peek() != '"') Fail();
      std::string key = ParseString();
      SkipWhitespace();
      Expect(':');
      SkipWhitespace();
      members.emplace_back(std::move(key), ParseValue(depth + 1));
      SkipWhitespace();
      if (Peek() == '}') {
        ++pos_;
        break;
      }
      Expect(',');
    }
    RejectDuplicateKeys(members);
    return JsonValue::Object(std::move(members));
  }

  // Sorting keeps hostile objects with many members at n log n.
  static void RejectDuplicateKeys(const JsonObject& members) {
    if (members.size() < 2) return;
    std::vector<std::string_view> keys;
    keys.reserve(members.size());
    for (const auto& member : members) keys.emplace_back(member.first);
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) Fail();
  }

  uint32_t ParseHex4() {
    if (text_.size() - pos_ < 4) Fail();
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexDigit(text_[pos_++]);
      if (digit < 0) Fail();
      code = code << 4 | static_cast<uint32_t>(digit);
    }
    return code;
  }

  // After the backslash and "u".
  void ParseUnicodeEscape(std::string& out) {
    uint32_t code = ParseHex4();
    if (code >= 0xDC00 && code <= 0xDFFF) Fail();  // low surrogate first
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (text_.substr(pos_, 2) != "\\u") Fail();
      pos_ += 2;
      const uint32_t low = ParseHex4();
      if (low < 0xDC00 || low > 0xDFFF) Fail();
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, code);
  }

  // One raw multi-byte UTF-8 character, validated and copied.
  void CopyUtf8Sequence(std::string& out) {
    const unsigned char lead = Byte();
    size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      Fail();  // continuation byte, C0/C1 or F5..FF
    }
    if (text_.size() - pos_ < length) Fail();
    for (size_t i = 1; i < length; ++i) {
      const auto byte = static_cast<unsigned char>(text_[pos_ + i]);
      if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) Fail();
    }
    out.append(text_.substr(pos_, length));
    pos_ += length;
  }

  std::string ParseString() {
    Expect('"');
    std::string out;
    for (;;) {
      if (AtEnd()) Fail();
      const unsigned char c = Byte();
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) Fail();
      if (c >= 0x80) {
        CopyUtf8Sequence(out);
        continue;
      }
      ++pos_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (AtEnd()) Fail();
      switch (text_[pos_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': ParseUnicodeEscape(out); break;
        default: Fail();
      }
    }
  }

  // Reads a run of digits (at least one) and returns how many.
  size_t Digits() {
    const size_t start = pos_;
    while (!AtEnd() && IsDigit(text_[pos_])) ++pos_;
    if (pos_ == start) Fail();
    return pos_ - start;
  }

  JsonValue ParseNumber() {
    const size_t start = pos_;
    const bool negative = Peek() == '-';
    if (negative) ++pos_;
    // The decimal exponent of the first non-zero digit, before the exponent
    // part; only its sign matters, to tell overflow from underflow below.
    int64_t magnitude = 0;
    if (Peek() == '0') {
      ++pos_;
      magnitude = -1;
    } else {
      magnitude = static_cast<int64_t>(Digits()) - 1;
    }
    if (Peek() == '.') {
      ++pos_;
      const size_t fraction = pos_;
      Digits();
      if (magnitude < 0) {
        const size_t zeros = text_.find_first_not_of('0', fraction);
        magnitude = -static_cast<int64_t>(std::min(zeros, pos_) - fraction) - 1;
      }
    }
    int64_t exponent = 0;
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      const bool negativeExponent = Peek() == '-';
      if (Peek() == '-' || Peek() == '+') ++pos_;
      const size_t digits = pos_;
      Digits();
      for (size_t i = digits; i < pos_; ++i) {
        exponent = std::min<int64_t>(exponent * 10 + (text_[i] - '0'), int64_t{1} << 40);
      }
      if (negativeExponent) exponent = -exponent;
    }
    const std::string_view numberText = text_.substr(start, pos_ - start);
    double value = 0;
    const auto [end, error] = std::from_chars(numberText.data(), numberText.data() + numberText.size(), value);
    if (error == std::errc::result_out_of_range) {
      if (magnitude + exponent > 0) Fail();  // would be infinite
      value = negative ? -0.0 : 0.0;
    } else if (error != std::errc() || end != numberText.data() + numberText.size()) {
      Fail();
    }
    return JsonValue::Number(std::string(numberText), value);
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<bool> JsonValue::AsBoolean() const {
  if (const bool* value = std::get_if<1>(&data_)) return *value;
  return std::nullopt;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
  const JsonObject* members = AsObject();
  if (members == nullptr) return nullptr;
  for (const auto& [name, value] : *members) {
    if (name == key) return &value;
  }
  return nullptr;
}

JsonValue ParseJson(std::string_view text) { return Parser(text).ParseDocument(); }

}  // namespace VirelantDesktop::updater
