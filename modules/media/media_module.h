// The `Media` module: the JavaScript face of the media cache. Downloads into
// the cache ("fetchToCache", "Media.progress"), look-up, cancel, removal,
// the size report, and the ways a cached file leaves the cache.
#pragma once

#include <memory>
#include <string>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"
#include "modules/media/media_state.h"
#include "platform/desktop_opener.h"

namespace VirelantDesktop {

class Media {
 public:
  static void Describe(ModuleTable<Media>& table);

  void Initialize(const ReactContext& context) noexcept;

  void fetchToCache(JSValue request, ReactPromise<JSValue> promise) noexcept;
  void peek(JSValue scope, std::string url, ReactPromise<JSValue> promise) noexcept;
  void cancel(std::string requestId, ReactPromise<bool> promise) noexcept;
  void remove(JSValue scope, std::string url, ReactPromise<bool> promise) noexcept;
  void removeThread(JSValue scope, ReactPromise<bool> promise) noexcept;
  void clear(JSValue scope, ReactPromise<bool> promise) noexcept;
  void stats(ReactPromise<JSValue> promise) noexcept;
  void materialize(std::string path, std::string name, ReactPromise<std::string> promise) noexcept;
  void saveCopy(std::string path, std::string name, ReactPromise<JSValue> promise) noexcept;
  void openFile(std::string path, ReactPromise<bool> promise) noexcept;
  void revealInFolder(std::string path, ReactPromise<bool> promise) noexcept;

 private:
  std::shared_ptr<media::State> state_ = std::make_shared<media::State>();
  ModuleEventSlot context_;
};
}  // namespace VirelantDesktop
