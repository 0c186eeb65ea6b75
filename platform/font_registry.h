// The user's font registrations: value name -> full path of an installed
// font file, as the per-user font key of the registry holds them on Windows.
//
// Linux has no such key, so the values live in one small file of ours, a
// JSON object of string members ("name": "path"), replaced atomically on
// every change. It is read by the rules of the key: value names compare
// ASCII case-insensitively (the first of two such names counts), only string
// values are values, a value's data ends at its first NUL, and a file that
// cannot be read, is not a JSON object or is larger than
// kMaxFontRegistryBytes reads as no values (the next change then replaces
// it: the file is ours alone).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VirelantDesktop::platform {

struct FontRegistryValue {
  std::string name;
  std::string data;
  bool operator==(const FontRegistryValue&) const = default;
};

inline constexpr size_t kMaxFontRegistryBytes = size_t{1} << 20;

// The values in `text`, in file order; empty when it is not a JSON object.
std::vector<FontRegistryValue> ParseFontRegistry(std::string_view text);
// The file content for `values` (the later of two names equal but for ASCII
// case left out, data cut at NUL); nullopt when a name or data is not valid
// UTF-8 (JSON cannot hold it) or the text would exceed kMaxFontRegistryBytes.
std::optional<std::string> SerializeFontRegistry(const std::vector<FontRegistryValue>& values);

// The registration file at a fixed path. Not thread-safe: one process
// changes it at a time (start-up or uninstall).
class FontRegistry {
 public:
  explicit FontRegistry(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const noexcept { return path_; }
  std::vector<FontRegistryValue> ReadValues() const;
  // The data of the value `name`; nullopt when there is none.
  std::optional<std::string> GetValue(std::string_view name) const;
  // Adds or replaces the value (its folder is made, mode 0700, when
  // missing). False when nothing was written.
  bool SetValue(std::string_view name, std::string_view data);
  // True when no value of that name is left afterwards.
  bool DeleteValue(std::string_view name);

 private:
  bool Write(const std::vector<FontRegistryValue>& values);

  std::string path_;
};

// The user's registration file: the per-user data folder + "/TALVEK/fonts.json";
// nullopt when that folder is unavailable.
std::optional<std::string> UserFontRegistryPath();

}  // namespace VirelantDesktop::platform
