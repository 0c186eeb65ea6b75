// The font registration file: its reader on arbitrary bytes, and its writer on
// arbitrary value lists. The same input is used both ways.
//
//  - As file text, ParseFontRegistry returns exactly what an independent
//    reading gives (the top-level members as the JSON lexer reports them,
//    duplicates included, then the rules of the key: only string members
//    are values, the first of two names equal ignoring ASCII case counts,
//    data ends at its first NUL; nothing for a non-object or a text over
//    kMaxFontRegistryBytes). Whatever it returns has no two names equal
//    ignoring ASCII case, no NUL in any data, and only valid UTF-8; writing
//    it succeeds and reading that back gives the same values in the same
//    order.
//  - As a value list (values split on 0xFF, a value's name and data split
//    at its first 0xFE; neither byte occurs in UTF-8, so every valid name or
//    data can be spelled), SerializeFontRegistry fails only when some name
//    or data is not UTF-8 (by the shell's own rule, which the writer does
//    not use: no overlongs, no surrogates, nothing above U+10FFFF),
//    succeeds when all are, never succeeds with an ill-formed value that
//    the reader would keep (a name, or data up to its first NUL), and what
//    it writes reads back as the list after the rules above.
//    The same list written out by hand (duplicates kept, every byte raw but
//    for the JSON escapes) reads as the list after the rules, or as no
//    values when some name or data is not UTF-8.
// The counts of objects read, values kept and lists written are printed at
// exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/json_mutator.h"
#include "platform/font_registry.h"
#include "platform/url_text.h"

namespace platform = VirelantDesktop::platform;
using platform::FontRegistryValue;

namespace {

using IsUtf8Fn = bool (*)(std::string_view);
constexpr IsUtf8Fn IsUtf8 = &platform::IsWellFormedUtf8;

struct Counts {
  unsigned long long inputs = 0, objects = 0, values = 0, duplicates = 0, cutAtNul = 0;
  unsigned long long lists = 0, written = 0, refused = 0;
  ~Counts() {
    std::fprintf(stderr,
                 "font_registry_fuzz: inputs %llu objects %llu values kept %llu; lists %llu written %llu (duplicates "
                 "dropped %llu, data cut at NUL %llu) refused as not UTF-8 %llu\n",
                 inputs, objects, values, lists, written, duplicates, cutAtNul, refused);
  }
} g_counts;

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool Same(const std::vector<FontRegistryValue>& a, const std::vector<FontRegistryValue>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].data != b[i].data) return false;
  }
  return true;
}

struct Candidate {
  std::string name;
  std::string data;  // in full: the writer sees all of it
};

// The rules of the key over candidate values in order: the indexes of the
// ones kept, and what the reader should return for them.
std::vector<FontRegistryValue> ApplyRules(const std::vector<Candidate>& candidates, std::vector<size_t>* kept) {
  std::vector<FontRegistryValue> values;
  for (size_t i = 0; i < candidates.size(); ++i) {
    bool taken = false;
    for (const auto& value : values) taken = taken || SameIgnoringAsciiCase(value.name, candidates[i].name);
    if (taken) continue;
    std::string data = candidates[i].data;
    for (size_t k = 0; k < data.size(); ++k) {
      if (data[k] == '\0') {
        data.resize(k);
        break;
      }
    }
    values.push_back({candidates[i].name, std::move(data)});
    if (kept != nullptr) kept->push_back(i);
  }
  return values;
}

// The top-level members of a JSON text in the order the lexer reports them,
// duplicate names and all; `isObject` only when the whole text is one
// well-formed object.
class TopLevelMembers final : public nlohmann::json::json_sax_t {
 public:
  bool isObject = false;
  std::vector<std::pair<std::string, std::optional<std::string>>> members;  // nullopt: not a string

  bool null() override { return Scalar(std::nullopt); }
  bool boolean(bool /*value*/) override { return Scalar(std::nullopt); }
  bool number_integer(number_integer_t /*value*/) override { return Scalar(std::nullopt); }
  bool number_unsigned(number_unsigned_t /*value*/) override { return Scalar(std::nullopt); }
  bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return Scalar(std::nullopt); }
  bool string(string_t& value) override { return Scalar(value); }
  bool binary(binary_t& /*value*/) override { return Scalar(std::nullopt); }
  bool start_object(size_t /*elements*/) override {
    if (depth_ == 0) isObject = true;
    Scalar(std::nullopt);
    ++depth_;
    return true;
  }
  bool key(string_t& name) override {
    if (depth_ == 1) key_ = name;
    return true;
  }
  bool end_object() override {
    --depth_;
    return true;
  }
  bool start_array(size_t /*elements*/) override {
    Scalar(std::nullopt);
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(size_t /*position*/, const std::string& /*token*/, const nlohmann::detail::exception& /*e*/) override {
    return false;
  }

 private:
  bool Scalar(std::optional<std::string> value) {
    if (depth_ == 1) members.emplace_back(key_, std::move(value));
    return true;
  }

  size_t depth_ = 0;
  std::string key_;
};

std::vector<FontRegistryValue> ExpectedValues(std::string_view text) {
  if (text.size() > platform::kMaxFontRegistryBytes) return {};
  TopLevelMembers sax;
  if (!nlohmann::json::sax_parse(text.begin(), text.end(), &sax) || !sax.isObject) return {};
  std::vector<Candidate> candidates;
  for (auto& [name, value] : sax.members) {
    if (value) candidates.push_back({std::move(name), std::move(*value)});
  }
  return ApplyRules(candidates, nullptr);
}

void CheckRead(std::string_view text) {
  const auto values = platform::ParseFontRegistry(text);
  if (!Same(values, ExpectedValues(text))) __builtin_trap();
  if (!values.empty()) ++g_counts.objects;
  for (size_t i = 0; i < values.size(); ++i) {
    ++g_counts.values;
    for (size_t k = 0; k < i; ++k) {
      if (SameIgnoringAsciiCase(values[k].name, values[i].name)) __builtin_trap();
    }
    if (values[i].data.find('\0') != std::string::npos) __builtin_trap();
    // The JSON lexer lets nothing else through, so the writer can hold it.
    if (!IsUtf8(values[i].name) || !IsUtf8(values[i].data)) __builtin_trap();
  }
  const auto written = platform::SerializeFontRegistry(values);
  if (!written) __builtin_trap();
  if (!Same(platform::ParseFontRegistry(*written), values)) __builtin_trap();
}

std::vector<Candidate> SplitList(std::string_view raw) {
  std::vector<Candidate> list;
  if (raw.empty()) return list;
  size_t start = 0;
  while (start <= raw.size()) {
    size_t end = raw.find('\xFF', start);
    if (end == std::string_view::npos) end = raw.size();
    const std::string_view record = raw.substr(start, end - start);
    const size_t mark = record.find('\xFE');
    if (mark == std::string_view::npos) {
      list.push_back({std::string(record), {}});
    } else {
      list.push_back({std::string(record.substr(0, mark)), std::string(record.substr(mark + 1))});
    }
    start = end + 1;
  }
  return list;
}

// A registration file written by hand, duplicates and all: every byte raw
// except the quote, the backslash and control characters.
std::string HandWritten(const std::vector<Candidate>& list) {
  std::string text = "{";
  const auto quote = [&text](std::string_view s) {
    text += '"';
    for (const char c : s) {
      if (c == '"' || c == '\\') {
        text += '\\';
        text += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
        text += escape;
      } else {
        text += c;
      }
    }
    text += '"';
  };
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += ",\n";
    quote(list[i].name);
    text += ':';
    quote(list[i].data);
  }
  return text + "}";
}

void CheckWrite(std::string_view raw) {
  const std::vector<Candidate> list = SplitList(raw);
  ++g_counts.lists;
  std::vector<FontRegistryValue> values;
  bool allUtf8 = true;
  for (const auto& candidate : list) {
    values.push_back({candidate.name, candidate.data});
    allUtf8 = allUtf8 && IsUtf8(candidate.name) && IsUtf8(candidate.data);
  }
  // The reader on the same list written by hand: the rules over it, or no
  // values at all when the text is not UTF-8 (so not JSON).
  const std::string text = HandWritten(list);
  const bool readable = allUtf8 && text.size() <= platform::kMaxFontRegistryBytes;
  const auto read = platform::ParseFontRegistry(text);
  if (!Same(read, readable ? ApplyRules(list, nullptr) : std::vector<FontRegistryValue>{})) __builtin_trap();

  const auto written = platform::SerializeFontRegistry(values);
  // Refused although every value is well-formed. (Written although one is
  // not is caught below for the values the reader keeps.)
  if (!written && allUtf8) __builtin_trap();
  if (!written) {
    ++g_counts.refused;
    return;
  }
  ++g_counts.written;
  std::vector<size_t> kept;
  const auto expected = ApplyRules(list, &kept);
  // What the reader keeps of a value (its data up to a NUL) is what must
  // be well-formed; bytes after a NUL are never written.
  for (size_t n = 0; n < kept.size(); ++n) {
    if (!IsUtf8(list[kept[n]].name) || !IsUtf8(expected[n].data)) __builtin_trap();
  }
  g_counts.duplicates += list.size() - kept.size();
  for (const size_t i : kept) {
    if (list[i].data.find('\0') != std::string::npos) ++g_counts.cutAtNul;
  }
  if (!Same(platform::ParseFontRegistry(*written), expected)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_counts.inputs;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  CheckRead(raw);
  CheckWrite(raw);
  return 0;
}
