// The `KV` module: a small persistent map of string settings (kv_store.h).
#pragma once

#include <mutex>
#include <string>

#include "bridge/module_table.h"
#include "modules/storage/kv_store.h"

namespace VirelantDesktop {

class KV {
 public:
  static void Describe(ModuleTable<KV>& table);

  void get(std::string key, ReactPromise<JSValue> promise) noexcept;
  void set(std::string key, std::string value, ReactPromise<bool> promise) noexcept;
  void remove(std::string key, ReactPromise<bool> promise) noexcept;

 private:
  // Runs `body` under the lock; any failure rejects "kv_failed".
  template <class T, class Body>
  void Locked(const std::string& key, const ReactPromise<T>& promise, Body&& body) noexcept;

  std::mutex mutex_;  // guards each load-modify-save of kv.json
  kv::Store store_;
};

}  // namespace VirelantDesktop
