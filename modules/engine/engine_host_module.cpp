#include "modules/engine/engine_host_module.h"

#include "bridge/module_kit.h"
#include "bridge/module_registration.h"
#include "modules/engine/engine_host.h"
#include "modules/engine/engine_rules.h"
#include "modules/engine/line_protocol.h"
#include "platform/file_info.h"
#include "platform/folders.h"

namespace VirelantDesktop {

using namespace engine;

namespace {

constexpr uint32_t kShutdownPhaseMs = 3000;
constexpr uint32_t kBusyDrainMs = 30000;
constexpr uint32_t kBusyQuitWaitMs = 38000;

}  // namespace

void EngineHost::Describe(ModuleTable<EngineHost>& table) {
  table.Initializer(&EngineHost::Initialize);
  table.Method("bundledPath", &EngineHost::bundledPath);
  table.Method("start", &EngineHost::start);
  table.Method("stop", &EngineHost::stop);
  table.Method("stopGraceful", &EngineHost::stopGraceful);
  table.Method("isRunning", &EngineHost::isRunning);
  table.Method("pid", &EngineHost::pid);
  table.Method("send", &EngineHost::send);
}

void EngineHost::Initialize(const ReactContext& context) noexcept {
  context_.Store(context);
  SetProcessEngineSlot(slot_);
}

std::shared_ptr<EngineRun> EngineHost::RunningRun() const noexcept {
  try {
    std::shared_ptr<EngineRun> run = slot_->Current();
    return run && run->IsRunning() ? run : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void EngineHost::bundledPath(ReactPromise<std::string> promise) noexcept {
  try {
    const auto dir = platform::ExecutableDir();
    if (dir) {
      const std::string path = *dir + kBundledEngineRelativePath;
      if (platform::KindOfPath(path) == platform::PathKind::Other) {
        promise.Resolve(path);
        return;
      }
    }
  } catch (...) {
  }
  promise.Reject(kEngineMissingCode, kEngineMissingMessage);
}

void EngineHost::start(std::string path, std::vector<std::string> args, ReactPromise<int64_t> promise) noexcept {
  const StartOutcome outcome = StartEngine(slot_, context_.Get(), path, args);
  if (outcome.ok) promise.Resolve(outcome.pid);
  else promise.Reject(outcome.code, outcome.message);
}

void EngineHost::stop(ReactPromise<bool> promise) noexcept {
  if (auto run = RunningRun()) StopNow(*run);
  promise.Resolve(true);
}

void EngineHost::stopGraceful(double waitMs, ReactPromise<std::string> promise) noexcept {
  std::shared_ptr<EngineRun> run = RunningRun();
  if (!run) {
    promise.Resolve(kOutcomeNotRunning);
    return;
  }
  const uint32_t wait = GracefulWaitMs(waitMs);
  // The quit line is queued here, before the method returns, so that a line
  // sent after "stopGraceful" reaches the engine after it; only the waits go
  // to the worker.
  bool started = false;
  try {
    BeginStop(*run, BuildQuitLine(0));
    started = StartDetachedThread([run, wait, promise] { promise.Resolve(FinishStop(*run, wait, wait)); },
                                  promise.KeepAlive());
  } catch (...) {
  }
  if (!started) {
    // No thread to wait on: the stop still happens, at once.
    StopNow(*run);
    promise.Resolve(kOutcomeKilled);
  }
}

void EngineHost::isRunning(ReactPromise<bool> promise) noexcept { promise.Resolve(RunningRun() != nullptr); }

void EngineHost::pid(ReactPromise<JSValue> promise) noexcept {
  std::shared_ptr<EngineRun> run = RunningRun();
  promise.Resolve(run ? JSValue(run->Pid()) : JSValue(nullptr));
}

void EngineHost::send(std::string line, ReactPromise<bool> promise) noexcept {
  std::shared_ptr<EngineRun> run = RunningRun();
  if (!run) {
    promise.Reject(kNotRunningCode, kNotRunningMessage);
    return;
  }
  try {
    run->Input().Write(line, [promise](bool written) {
      if (written) promise.Resolve(true);
      else promise.Reject(kWriteFailedCode, kWriteFailedMessage);
    });
  } catch (...) {
    promise.Reject(kWriteFailedCode, kWriteFailedMessage);
  }
}

TALVEK_REGISTER_MODULE(EngineHost, "EngineHost");

// ---- Host operations ----

std::string ShutdownEngine() noexcept {
  std::shared_ptr<EngineRun> run = ProcessEngineRun();
  if (!run || !run->IsRunning()) return kOutcomeNotRunning;
  try {
    return StopInPhases(*run, BuildQuitLine(0), kShutdownPhaseMs, kShutdownPhaseMs);
  } catch (...) {
    return kOutcomeKilled;
  }
}

std::string StopEngineForUpdate() noexcept {
  std::shared_ptr<EngineRun> run = ProcessEngineRun();
  if (!run || !run->IsRunning()) return kOutcomeNotRunning;
  const bool busy = run->busy.load();
  try {
    return StopInPhases(*run, BuildQuitLine(busy ? kBusyDrainMs : 0), busy ? kBusyQuitWaitMs : kShutdownPhaseMs,
                        kShutdownPhaseMs);
  } catch (...) {
    return kOutcomeKilled;
  }
}

bool IsEngineRunning() noexcept {
  std::shared_ptr<EngineRun> run = ProcessEngineRun();
  return run && run->IsRunning();
}

}  // namespace VirelantDesktop
