#include "platform/font_registry.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>

#include "platform/ascii_text.h"

namespace VirelantDesktop::platform {

namespace {

// The top-level string members of an object, met in file order. The
// document type keeps only the last of two equal names, so the text is read
// event by event instead.
class RegistryReader final : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::vector<FontRegistryValue> values;
  bool isObject = false;

  bool null() override { return Scalar(); }
  bool boolean(bool) override { return Scalar(); }
  bool number_integer(number_integer_t) override { return Scalar(); }
  bool number_unsigned(number_unsigned_t) override { return Scalar(); }
  bool number_float(number_float_t, const string_t&) override { return Scalar(); }
  bool binary(binary_t&) override { return Scalar(); }
  bool string(string_t& value) override {
    if (depth_ == 1 && key_) Keep(std::move(*key_), std::move(value));
    key_.reset();
    return true;
  }
  bool start_object(std::size_t) override {
    if (depth_ == 0) isObject = true;
    key_.reset();
    ++depth_;
    return true;
  }
  bool end_object() override {
    --depth_;
    return true;
  }
  bool start_array(std::size_t) override {
    key_.reset();
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool key(string_t& name) override {
    if (depth_ == 1) key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  bool Scalar() {
    key_.reset();
    return true;
  }
  void Keep(std::string name, std::string data) {
    // The first of two names that differ at most in ASCII case counts.
    if (!seen_.insert(LowerAscii(name)).second) return;
    if (const size_t nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
    values.push_back({std::move(name), std::move(data)});
  }

  int depth_ = 0;
  std::optional<std::string> key_;
  std::unordered_set<std::string> seen_;
};

}  // namespace

std::vector<FontRegistryValue> ParseFontRegistry(std::string_view text) {
  if (text.size() > kMaxFontRegistryBytes) return {};
  RegistryReader reader;
  if (!nlohmann::json::sax_parse(text, &reader) || !reader.isObject) return {};
  return std::move(reader.values);
}

std::optional<std::string> SerializeFontRegistry(const std::vector<FontRegistryValue>& values) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  std::unordered_set<std::string> seen;
  for (const auto& value : values) {
    // As the reader would: the first of two names equal but for case.
    if (!seen.insert(LowerAscii(value.name)).second) continue;
    document[value.name] = value.data.substr(0, value.data.find('\0'));
  }
  std::string text;
  try {
    text = document.dump(2) + "\n";
  } catch (const nlohmann::json::exception&) {  // not UTF-8
    return std::nullopt;
  }
  // A file the reader would refuse must never be written.
  if (text.size() > kMaxFontRegistryBytes) return std::nullopt;
  return text;
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
