#include "modules/storage/kv_store.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/folders.h"
#include "platform/read_file.h"

namespace VirelantDesktop::kv {

JSValue ParseStore(std::string_view bytes) {
  // The callback sees each container start with the number of containers
  // already open around it. Once one starts too deep, every later event is
  // discarded, so nothing more is built while the rest is read through.
  bool tooDeep = false;
  const JSValue::parser_callback_t bound = [&tooDeep](int depth, JSValue::parse_event_t event, JSValue&) {
    const bool opens = event == JSValue::parse_event_t::object_start || event == JSValue::parse_event_t::array_start;
    if (opens && depth >= kMaxStoreDepth) tooDeep = true;
    return !tooDeep;
  };
  // The parser refuses ill-formed UTF-8 inside strings; bytes outside
  // strings are syntax errors anyway.
  JSValue parsed = JSValue::parse(bytes.begin(), bytes.end(), bound, /*allow_exceptions=*/false);
  if (tooDeep || !parsed.is_object()) return JSValueObject{};
  return parsed;
}

std::string SerializeStore(const JSValue& object) {
  return object.dump(-1, ' ', /*ensure_ascii=*/false, JSValue::error_handler_t::replace);
}

Store::Store(StoreOptions options) : options_(std::move(options)) {
  if (!options_.writer) options_.writer = &platform::WriteFileAtomic;
}

std::string Store::Folder() const {
  if (!options_.folder.empty()) return options_.folder;
  auto data = platform::UserDataDir();
  if (!data) throw Failure("localappdata");
  return *data + kStoreSubfolder;
}

JSValue Store::Load(const std::string& folder) const {
  platform::ReadFileResult file = platform::ReadWholeFile(folder + "/" + kStoreFileName);
  switch (file.status) {
    case platform::ReadStatus::Ok:
      return ParseStore(file.data);
    case platform::ReadStatus::Missing:
      return JSValueObject{};
    case platform::ReadStatus::Failed:
      break;
  }
  // A store that exists but cannot be read is not an empty store: the next
  // save would replace every setting in it.
  throw Failure("read");
}

void Store::Save(const std::string& folder, const JSValue& object) const {
  std::error_code error;
  const bool created = std::filesystem::create_directories(folder, error);
  if (error) throw Failure("save");
  if (created) std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);  // best effort
  platform::AtomicWriteOptions options;
  options.tempPath = folder + "/" + kTempFileName;
  options.mode = 0600;
  const platform::AtomicWriteResult result = options_.writer(folder + "/" + kStoreFileName, SerializeStore(object), options);
  // Once the rename succeeded the new content is the store; a failed flush
  // of the folder afterwards does not undo that.
  if (!result.ok() && result.failedStage != platform::AtomicWriteStage::SyncFolder) throw Failure("save");
}

std::optional<std::string> Store::Get(const std::string& key) const {
  const JSValue object = Load(Folder());
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (!it->is_string()) throw Failure("not a string");
  return it->get<std::string>();
}

void Store::Set(const std::string& key, const std::string& value) const {
  const std::string folder = Folder();
  JSValue object = Load(folder);
  object[key] = value;
  Save(folder, object);
}

void Store::Remove(const std::string& key) const {
  const std::string folder = Folder();
  JSValue object = Load(folder);
  if (object.erase(key) == 0) return;
  Save(folder, object);
}

}  // namespace VirelantDesktop::kv
