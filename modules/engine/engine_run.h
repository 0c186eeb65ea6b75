// One engine process and the slot that holds it.
//
// `EngineRun` is one started engine: its job (platform/job_process.h), its
// input (platform/pipe_writer.h), the stop-requested and busy flags, and the context
// its events go to. It is shared by the slot, the output reader, the exit
// watcher, the input writer and every stop in progress, and ends with the
// last of them.
//
// `EngineSlot` holds the current run from a successful start until that
// run's exit watcher clears it; only then can the next start succeed.
//
// Locks, in the order they may be nested: the process-wide slot's lock (only
// to copy the slot), a slot's lock (the whole of a start; briefly to copy the
// current run; the exit event and the clearing of the run), then a run's job lock (each terminate and the
// job's close) or its input lock (each write and the close of the input);
// the two run locks are never nested. Nothing takes a slot's lock while
// holding a run's lock, and no lock is held while waiting for the engine.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/keep_alive.h"
#include "bridge/react_context.h"
#include "platform/job_process.h"
#include "platform/pipe_writer.h"

namespace VirelantDesktop::engine {

class EngineSlot;

class EngineRun {
 public:
  EngineRun(std::unique_ptr<platform::JobProcess> job, ReactContext context);

  uint32_t Pid() const noexcept { return static_cast<uint32_t>(job_->Pid()); }
  // "Running": the process has not ended (a zero-time test that reaps nothing).
  bool IsRunning() const noexcept { return !job_->WaitForExit(0); }
  // True when the process ended within `timeoutMs`.
  bool WaitForExit(uint32_t timeoutMs) const noexcept;
  platform::PipeWriter& Input() noexcept { return input_; }
  // Kills the engine and everything in its job (the job's terminate).
  void Terminate() noexcept;

  // Thread bodies.
  void ReadOutput(platform::UniqueFd output) noexcept;
  void WatchExit(const std::shared_ptr<EngineSlot>& slot) noexcept;

  std::atomic<bool> stopRequested{false};  // set by every stop path before it acts
  std::atomic<bool> busy{false};           // the engine's last busy announcement

 private:
  void SignalDrained() noexcept;
  bool WaitDrained(uint32_t timeoutMs) noexcept;

  std::unique_ptr<platform::JobProcess> job_;
  platform::PipeWriter input_;
  ReactContext context_;
  std::mutex jobLock_;  // the run's job lock: guards terminating and closing the job
  std::mutex drainLock_;  // guards drained_
  std::condition_variable drainedChanged_;
  bool drained_ = false;
};

class EngineSlot {
 public:
  std::shared_ptr<EngineRun> Current() const;
  // Runs `lastSteps` (the exit event, closing the input) and clears the
  // current run when it is still `run`, all under the slot's lock: a start
  // made as soon as JavaScript sees the exit event finds the slot free, and
  // no line of a new run can reach JavaScript before that event.
  void EndRun(const EngineRun* run, const std::function<void()>& lastSteps);

 private:
  friend struct StartAccess;
  mutable std::mutex lock_;  // the slot's lock: guards current_; held for the whole of a start
  std::shared_ptr<EngineRun> current_;
};

struct StartOutcome {
  bool ok = false;
  uint32_t pid = 0;
  std::string code;     // when !ok
  std::string message;  // when !ok
};

// Starts `path` with `args` in `slot` and starts the run's threads; events go
// to `context`. Refused while the slot holds a run.
StartOutcome StartEngine(const std::shared_ptr<EngineSlot>& slot, const ReactContext& context,
                         const std::string& path, const std::vector<std::string>& args) noexcept;

// "stop": when running, marks the stop as requested and terminates. Returns
// at once; the exit event follows from the exit watcher.
void StopNow(EngineRun& run) noexcept;

// The polite stop: marks the stop requested, writes `quitLine`, waits up to
// `quitWaitMs`; then closes the input and waits up to `eofWaitMs`; then
// terminates and waits up to 2000 ms. Returns "quit", "eof" or "killed".
// Blocks: never call it on the JavaScript thread.
const char* StopInPhases(EngineRun& run, const std::string& quitLine, uint32_t quitWaitMs,
                         uint32_t eofWaitMs) noexcept;
// StopInPhases in two halves, for a caller that must not wait: BeginStop
// marks the stop requested and queues the quit line in order behind the lines
// already written, without blocking (so a line written after it reaches the
// engine after the quit line); FinishStop does the waits that follow.
void BeginStop(EngineRun& run, const std::string& quitLine) noexcept;
const char* FinishStop(EngineRun& run, uint32_t quitWaitMs, uint32_t eofWaitMs) noexcept;

// The process-wide slot through which the host and the updater reach the
// engine: the slot of the most recently initialised module.
void SetProcessEngineSlot(std::shared_ptr<EngineSlot> slot) noexcept;
std::shared_ptr<EngineRun> ProcessEngineRun() noexcept;

// Test-only: how the run's threads are started (empty restores the default,
// StartDetachedThread).
using ThreadStarter = std::function<bool(std::function<void()> work, KeepAliveToken hold)>;
void SetThreadStarterForTesting(ThreadStarter starter);

}  // namespace VirelantDesktop::engine
