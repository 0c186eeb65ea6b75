// The `Share` module: "share" hands a file from the media cache's handed-out
// copies, a text and/or a web link to the share sheet over the main window,
// and answers { "completed": true } once the user picked a target, false
// when a newer share replaced the request, the sheet was closed without a
// choice or 120 s passed. One request is pending at a time.
//
// Threads: the calling thread validates; a worker checks and opens the
// file; the sheet is shown on the UI thread; choices, replacements and the
// watcher settle the request through the state's lock, once.
#pragma once

#include <chrono>
#include <memory>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"

namespace VirelantDesktop {

namespace share {
struct Session;
// How long a shown sheet waits for a choice (120 s); tests shorten it.
void SetShareTimeoutForTesting(std::chrono::steady_clock::duration timeout);
}

class Share {
 public:
  Share();
  static void Describe(ModuleTable<Share>& table);

  void Initialize(const ReactContext& context) noexcept;

  void share(JSValue request, ReactPromise<JSValue> promise) noexcept;

 private:
  ModuleEventSlot context_;
  std::shared_ptr<share::Session> session_;
};

}  // namespace VirelantDesktop
