// The key-value store file: one JSON object in "kv.json" under the per-user
// data folder + "/TALVEK/desktop", members of string values.
//
// Every call loads the whole file and every change rewrites it whole through
// "kv.json.tmp" and an atomic rename (platform::WriteFileAtomic), so a crash
// leaves the old or the new content, never a mix. Members of other types
// written by hand are kept as they are. Not thread-safe: the module holds one
// lock around each load-modify-save.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bridge/js_value.h"
#include "platform/atomic_file.h"

namespace VirelantDesktop::kv {

inline constexpr const char* kStoreFileName = "kv.json";
inline constexpr const char* kTempFileName = "kv.json.tmp";
inline constexpr const char* kStoreSubfolder = "/TALVEK/desktop";

// Any failure after the key check. The text says where (for tests and
// debugging); callers report "kv_failed" whatever it is.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Deepest nesting of arrays and objects a store file may hold, the store
// object itself counting as one level. Writing a value back (and copying or
// comparing it) recurses once per level, so a file nested deeper could
// overflow the stack on the next save; such a file is unusable content. This
// store never writes more than one level; the bound only has to leave room
// for members written by hand.
inline constexpr int kMaxStoreDepth = 512;

// The store's content from the file's bytes: the parsed object, or an empty
// object for anything else (no bytes, invalid UTF-8, broken JSON, a
// top-level value that is not an object, nesting past kMaxStoreDepth).
// Parsing itself does not recurse, whatever the depth.
JSValue ParseStore(std::string_view bytes);
// Compact JSON, UTF-8, no byte-order mark.
std::string SerializeStore(const JSValue& object);

using AtomicWriter = std::function<platform::AtomicWriteResult(const std::string& path, std::string_view data,
                                                               const platform::AtomicWriteOptions& options)>;

struct StoreOptions {
  // The folder holding the files; empty: the per-user data folder +
  // "/TALVEK/desktop", worked out again on every call.
  std::string folder;
  // Replaces the file writer in tests.
  AtomicWriter writer;
};

class Store {
 public:
  explicit Store(StoreOptions options = {});

  // nullopt when the key is absent. Throws Failure when the file exists but
  // cannot be read, or the member is not a string.
  std::optional<std::string> Get(const std::string& key) const;
  // Sets the member (replacing one of any type) and saves. Throws Failure.
  void Set(const std::string& key, const std::string& value) const;
  // Removes the member and saves; writes nothing when it is absent.
  void Remove(const std::string& key) const;

 private:
  std::string Folder() const;
  JSValue Load(const std::string& folder) const;
  void Save(const std::string& folder, const JSValue& object) const;

  StoreOptions options_;
};

}  // namespace VirelantDesktop::kv
