// The updater's own JSON reader, for update manifests and signature files.
//
// It is strict and all-or-nothing: ParseJson either returns the whole value or
// throws JsonError, never a partial value. What it accepts:
//  - Standard JSON (values, literals true/false/null, numbers, strings,
//    arrays, objects). Whitespace is space, tab, CR and LF only.
//  - One UTF-8 byte order mark (EF BB BF) at the very start is skipped;
//    whitespace may surround the top-level value; nothing else may follow it.
//  - Numbers: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?. The text is kept
//    as written, next to the nearest double. A number too large for a double
//    (it would round to infinity) is an error; one too small becomes 0 (-0 when
//    negative).
//  - Strings are UTF-8. Raw bytes must be valid UTF-8 (no overlong forms, no
//    surrogates U+D800..U+DFFF, nothing above U+10FFFF) and no control
//    character below 0x20. Escapes: \" \\ \/ \b \f \n \r \t \uXXXX. A \u high
//    surrogate must be followed at once by a \u low surrogate, and the pair is
//    one 4-byte character; any surrogate left unpaired is an error. \u0000 is
//    allowed, so a decoded string may hold NUL bytes.
//  - Nesting: the top-level value is at depth 1 and each array or object adds
//    one level for its elements. Arrays and objects may sit at depths 1 to 32
//    (kMaxJsonDepth); one that would be at depth 33 is an error. Scalars inside
//    the deepest container are fine. The reader never recurses deeper than
//    this, so hostile input cannot exhaust the stack.
//  - Object keys are unique: two members whose decoded keys are equal byte for
//    byte ("a" and "\u0061") are an error. Members keep document order.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace VirelantDesktop::updater {

inline constexpr int kMaxJsonDepth = 32;

// Every parse failure; what() is exactly "json".
class JsonError : public std::runtime_error {
 public:
  JsonError() : std::runtime_error("json") {}
};

struct JsonNumber {
  std::string text;  // as written in the document
  double value = 0;  // finite
  bool operator==(const JsonNumber&) const = default;
};

class JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonMember = std::pair<std::string, JsonValue>;
using JsonObject = std::vector<JsonMember>;  // document order, unique keys

class JsonValue {
 public:
  enum class Kind { kNull, kBoolean, kNumber, kString, kArray, kObject };

  JsonValue() = default;  // null
  static JsonValue Null() { return JsonValue(); }
  static JsonValue Boolean(bool value) { return JsonValue(Data(std::in_place_index<1>, value)); }
  static JsonValue Number(std::string text, double value) {
    return JsonValue(Data(std::in_place_index<2>, JsonNumber{std::move(text), value}));
  }
  static JsonValue String(std::string value) { return JsonValue(Data(std::in_place_index<3>, std::move(value))); }
  static JsonValue Array(JsonArray elements) { return JsonValue(Data(std::in_place_index<4>, std::move(elements))); }
  static JsonValue Object(JsonObject members) { return JsonValue(Data(std::in_place_index<5>, std::move(members))); }

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool IsNull() const { return kind() == Kind::kNull; }

  // The value when it is of that kind, else nullopt / null.
  std::optional<bool> AsBoolean() const;
  const JsonNumber* AsNumber() const { return std::get_if<2>(&data_); }
  const std::string* AsString() const { return std::get_if<3>(&data_); }
  const JsonArray* AsArray() const { return std::get_if<4>(&data_); }
  const JsonObject* AsObject() const { return std::get_if<5>(&data_); }

  // The member named `key` (compared byte for byte) of an object; null when
  // this is not an object or has no such member. A linear search.
  const JsonValue* Find(std::string_view key) const;

  // Same kind and contents; numbers compare by text and value, objects by
  // their members in order.
  bool operator==(const JsonValue&) const = default;

 private:
  using Data = std::variant<std::monostate, bool, JsonNumber, std::string, JsonArray, JsonObject>;
  explicit JsonValue(Data data) : data_(std::move(data)) {}
  Data data_;
};

// Parses one whole document (see the rules above). Throws JsonError.
JsonValue ParseJson(std::string_view text);

}  // namespace VirelantDesktop::updater
