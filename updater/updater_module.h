// The `Updater` module: JavaScript drives self-update through it. Owns one
// update engine, built on first use; "check", "download", "apply",
// "discard" and "readPause" each run on a new worker thread,
// "restartDetected" answers at once. The constant "channel" names the
// channel; "Updater.progress" carries the download's percentage.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"
#include "updater/update_engine.h"

namespace VirelantDesktop {

class Updater {
 public:
  static void Describe(ModuleTable<Updater>& table);

  void Initialize(const ReactContext& context) noexcept;
  void Constants(JSValueObject& constants) noexcept;

  void check(ReactPromise<JSValue> promise) noexcept;
  void download(ReactPromise<JSValue> promise) noexcept;
  void apply(ReactPromise<JSValue> promise) noexcept;
  void restartDetected(ReactPromise<JSValue> promise) noexcept;
  void discard(ReactPromise<JSValue> promise) noexcept;
  void readPause(ReactPromise<JSValue> promise) noexcept;

 private:
  std::shared_ptr<TalvekUpdater::Backend> BackendLocked();
  std::shared_ptr<TalvekUpdater::UpdaterEngine> Engine();

  std::shared_ptr<ModuleEventSlot> events_ = std::make_shared<ModuleEventSlot>();
  std::mutex mutex_;  // guards engine_ and backend_
  std::shared_ptr<TalvekUpdater::UpdaterEngine> engine_;
  std::shared_ptr<TalvekUpdater::Backend> backend_;
};

namespace updater {

// Tests only: parts that replace the program's own in engines built from
// now on (empty members keep the program's).
struct UpdaterModuleParts {
  std::function<std::shared_ptr<TalvekUpdater::Backend>()> makeBackend;
  std::function<std::string()> engineStop;
  std::function<void()> afterApply;
  std::function<int64_t()> clock;
};
void SetUpdaterModulePartsForTesting(UpdaterModuleParts parts);

}  // namespace updater
}  // namespace VirelantDesktop
