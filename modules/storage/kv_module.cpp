#include "modules/storage/kv_module.h"

#include "bridge/module_registration.h"
#include "modules/storage/storage_key.h"

namespace VirelantDesktop {

void KV::Describe(ModuleTable<KV>& table) {
  table.Method("get", &KV::get);
  table.Method("set", &KV::set);
  table.Method("remove", &KV::remove);
}

template <class T, class Body>
void KV::Locked(const std::string& key, const ReactPromise<T>& promise, Body&& body) noexcept {
  if (!storage::IsValidKey(key)) {
    promise.Reject("invalid_key");
    return;
  }
  try {
    std::lock_guard lock(mutex_);
    body();
  } catch (...) {
    promise.Reject("kv_failed");
  }
}

void KV::get(std::string key, ReactPromise<JSValue> promise) noexcept {
  Locked(key, promise, [&] {
    std::optional<std::string> value = store_.Get(key);
    promise.Resolve(value ? JSValue(std::move(*value)) : JSValue(nullptr));
  });
}

void KV::set(std::string key, std::string value, ReactPromise<bool> promise) noexcept {
  Locked(key, promise, [&] {
    store_.Set(key, value);
    promise.Resolve(true);
  });
}

void KV::remove(std::string key, ReactPromise<bool> promise) noexcept {
  Locked(key, promise, [&] {
    store_.Remove(key);
    promise.Resolve(true);
  });
}

TALVEK_REGISTER_MODULE(KV, "KV");

}  // namespace VirelantDesktop
