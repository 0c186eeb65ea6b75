// ParseStore on arbitrary bytes, as a kv.json on disk may hold them:
//  - it returns an object and throws nothing;
//  - that object is written back as the next save writes it, and reads again
//    to an equal value, so no file can make a save fail or recurse without
//    bound.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "modules/storage/kv_store.h"

using VirelantDesktop::JSValue;
namespace kv = VirelantDesktop::kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  JSValue store;
  std::string written;
  try {
    store = kv::ParseStore(bytes);
    if (!store.is_object()) __builtin_trap();
    written = kv::SerializeStore(store);
  } catch (...) {
    __builtin_trap();
  }
  if (kv::ParseStore(written) != store) __builtin_trap();
  return 0;
}
