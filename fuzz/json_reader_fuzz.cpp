// ParseJson on arbitrary bytes:
//  - it returns or throws JsonError, nothing else;
//  - an accepted document, written out again compactly, parses to an equal
//    value (numbers by their kept text, strings escaped where they must be).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "updater/json_reader.h"

using VirelantDesktop::updater::JsonError;
using VirelantDesktop::updater::JsonValue;
using VirelantDesktop::updater::ParseJson;

namespace {

void WriteString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

void Write(std::string& out, const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::kNull:
      out += "null";
      break;
    case JsonValue::Kind::kBoolean:
      out += *value.AsBoolean() ? "true" : "false";
      break;
    case JsonValue::Kind::kNumber:
      if (!std::isfinite(value.AsNumber()->value)) std::abort();
      out += value.AsNumber()->text;
      break;
    case JsonValue::Kind::kString:
      WriteString(out, *value.AsString());
      break;
    case JsonValue::Kind::kArray: {
      out += '[';
      const char* separator = "";
      for (const JsonValue& element : *value.AsArray()) {
        out += separator;
        Write(out, element);
        separator = ",";
      }
      out += ']';
      break;
    }
    case JsonValue::Kind::kObject: {
      out += '{';
      const char* separator = "";
      for (const auto& [key, member] : *value.AsObject()) {
        out += separator;
        WriteString(out, key);
        out += ':';
        Write(out, member);
        separator = ",";
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JsonValue value;
  try {
    value = ParseJson(text);
  } catch (const JsonError&) {
    return 0;
  } catch (...) {
    __builtin_trap();
  }

  std::string written;
  Write(written, value);
  try {
    if (!(ParseJson(written) == value)) __builtin_trap();
  } catch (...) {
    __builtin_trap();
  }
  return 0;
}
