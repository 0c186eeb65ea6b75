// The `EngineHost` module: starts, feeds and stops the engine process and
// reports its output lines and its exit ("EngineHost.evt", "EngineHost.exit").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"
#include "modules/engine/engine_run.h"

namespace VirelantDesktop {

class EngineHost {
 public:
  static void Describe(ModuleTable<EngineHost>& table);

  void Initialize(const ReactContext& context) noexcept;

  void bundledPath(ReactPromise<std::string> promise) noexcept;
  void start(std::string path, std::vector<std::string> args, ReactPromise<int64_t> promise) noexcept;
  void stop(ReactPromise<bool> promise) noexcept;
  void stopGraceful(double waitMs, ReactPromise<std::string> promise) noexcept;
  void isRunning(ReactPromise<bool> promise) noexcept;
  void pid(ReactPromise<JSValue> promise) noexcept;
  void send(std::string line, ReactPromise<bool> promise) noexcept;

 private:
  // The current run when it is running, else null.
  std::shared_ptr<engine::EngineRun> RunningRun() const noexcept;

  ModuleEventSlot context_;
  const std::shared_ptr<engine::EngineSlot> slot_ = std::make_shared<engine::EngineSlot>();
};

}  // namespace VirelantDesktop
