#include "platform/font_registry.h"

#include <nlohmann/json.hpp>

#include "platform/ascii_text.h"

namespace VirelantDesktop::platform {

std::vector<FontRegistryValue> ParseFontRegistry(std::string_view text) {
  std::vector<FontRegistryValue> values;
  if (text.size() > kMaxFontRegistryBytes) return values;
  const auto document = nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object()) return values;
  for (const auto& [name, value] : document.items()) {
    if (!value.is_string()) continue;
    bool seen = false;
    for (const auto& kept : values) seen = seen || EqualsIgnoringAsciiCase(kept.name, name);
    if (seen) continue;
    std::string data = value.get<std::string>();
    if (const size_t nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
    values.push_back({name, std::move(data)});
  }
  return values;
}

std::optional<std::string> SerializeFontRegistry(const std::vector<FontRegistryValue>& values) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  for (const auto& value : values) document[value.name] = value.data;
  try {
    return document.dump(2) + "\n";
  } catch (const nlohmann::json::exception&) {  // not UTF-8
    return std::nullopt;
  }
}

std::optional<std::string> FontRegistry::GetValue(std::string_view name) const {
  for (auto& value : ReadValues()) {
    if (EqualsIgnoringAsciiCase(value.name, name)) return std::move(value.data);
  }
  return std::nullopt;
}

bool FontRegistry::SetValue(std::string_view name, std::string_view data) {
  auto values = ReadValues();
  bool replaced = false;
  for (auto& value : values) {
    if (EqualsIgnoringAsciiCase(value.name, name)) {
      value.data = std::string(data.substr(0, data.find('\0')));
      replaced = true;
      break;
    }
  }
  if (!replaced) values.push_back({std::string(name), std::string(data.substr(0, data.find('\0')))});
  return Write(values);
}

bool FontRegistry::DeleteValue(std::string_view name) {
  auto values = ReadValues();
  const size_t before = values.size();
  std::erase_if(values, [&](const FontRegistryValue& value) { return EqualsIgnoringAsciiCase(value.name, name); });
  return values.size() == before || Write(values);
}

}  // namespace VirelantDesktop::platform
