#include "modules/engine/engine_run.h"

#include <chrono>
#include <thread>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"
#include "modules/engine/engine_rules.h"
#include "modules/engine/line_protocol.h"
#include "modules/engine/output_pacer.h"
#include "platform/win32_error.h"

namespace VirelantDesktop::engine {
namespace {

constexpr uint32_t kDrainWaitMs = 2000;      // exit watcher: for the last output lines
constexpr uint32_t kKilledWaitMs = 2000;     // after the terminate of a polite stop
constexpr size_t kReadBlockBytes = 4096;

std::mutex g_processSlotLock;  // the process-wide slot's lock: guards g_processSlot
std::shared_ptr<EngineSlot> g_processSlot;

std::mutex g_threadStarterLock;  // guards g_threadStarter
ThreadStarter g_threadStarter;

bool StartThread(std::function<void()> work, KeepAliveToken hold) noexcept {
  ThreadStarter starter;
  {
    std::lock_guard lock(g_threadStarterLock);
    starter = g_threadStarter;
  }
  if (!starter) return StartDetachedThread(std::move(work), std::move(hold));
  try {
    return starter(std::move(work), std::move(hold));
  } catch (...) {
    return false;
  }
}

}  // namespace

struct StartAccess {
  static std::mutex& Lock(EngineSlot& slot) { return slot.lock_; }
  static std::shared_ptr<EngineRun>& Current(EngineSlot& slot) { return slot.current_; }
};

// ---- EngineRun ----

EngineRun::EngineRun(std::unique_ptr<platform::JobProcess> job, ReactContext context)
    : job_(std::move(job)), input_(job_->TakeInput(), /*writerThread=*/true), context_(std::move(context)) {}

bool EngineRun::WaitForExit(uint32_t timeoutMs) const noexcept {
  return job_->WaitForExit(static_cast<int>(timeoutMs));
}

void EngineRun::Terminate() noexcept {
  std::lock_guard lock(jobLock_);
  job_->Terminate();
}

void EngineRun::ReadOutput(platform::UniqueFd output) noexcept {
  try {
    LineSplitter splitter;
    OutputPacer pacer;
    char block[kReadBlockBytes];
    for (;;) {
      const long n = platform::PipeWriter::ReadSome(output, block, sizeof block);
      if (n <= 0) break;  // end of output, or the pipe failed
      splitter.Feed(block, static_cast<size_t>(n), [this, &pacer](std::string_view line) {
        const int announced = DetectBusy(line);
        if (announced >= 0) busy.exchange(announced == 1);
        JSValue payload(JSValue::value_t::object);
        payload.get_ref<JSValueObject&>().emplace("line", std::string(line));
        std::shared_ptr<void> hold = pacer.Account(line.size());
        if (!hold) {
          context_.EmitJSEvent(kEventEmitterName, kLineEvent, std::move(payload));
          return;
        }
        context_.EmitJSEventHeld(kEventEmitterName, kLineEvent, std::move(payload), std::move(hold));
        pacer.WaitForRoom();  // JavaScript is far behind: let the engine wait on its pipe
      });
    }
  } catch (...) {
    // Out of memory while passing a line on: stop reading; the engine then
    // blocks on a full pipe until it is stopped.
  }
  output.Reset();
  SignalDrained();
}

void EngineRun::WatchExit(const std::shared_ptr<EngineSlot>& slot) noexcept {
  while (!job_->WaitForExit(-1)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // only a failing poll gets here
  }
  const platform::ProcessExit ended = job_->PeekExit().value_or(platform::ProcessExit{true, 9, true});  // unknown: as if killed
  const int32_t code = ExitEventCode(ended, job_->WasTerminated());
  {
    // Nothing the engine started outlives it: closing the job has the guard
    // end and reap whatever is left, wherever it went.
    std::lock_guard lock(jobLock_);
    job_->CloseJob();
  }
  job_->Reap();
  WaitDrained(kDrainWaitMs);
  busy.exchange(false);
  const char* reason = stopRequested.load() ? "requested" : "unexpected";
  slot->EndRun(this, [&] {
    try {
      JSValue payload(JSValue::value_t::object);
      payload["code"] = code;
      payload["reason"] = reason;
      context_.EmitJSEvent(kEventEmitterName, kExitEvent, std::move(payload));
    } catch (...) {
    }
    input_.Close();
  });
}

void EngineRun::SignalDrained() noexcept {
  {
    std::lock_guard lock(drainLock_);
    drained_ = true;
  }
  drainedChanged_.notify_all();
}

bool EngineRun::WaitDrained(uint32_t timeoutMs) noexcept {
  std::unique_lock lock(drainLock_);
  return drainedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return drained_; });
}

// ---- EngineSlot ----

std::shared_ptr<EngineRun> EngineSlot::Current() const {
  std::lock_guard lock(lock_);
  return current_;
}

void EngineSlot::EndRun(const EngineRun* run, const std::function<void()>& lastSteps) {
  std::lock_guard lock(lock_);
  lastSteps();
  if (current_.get() == run) current_.reset();
}

// ---- Start ----

namespace {

StartOutcome Refused(std::string code, std::string message) {
  StartOutcome outcome;
  outcome.code = std::move(code);
  outcome.message = std::move(message);
  return outcome;
}

// Starts the writer, the output reader and the exit watcher. False when one
// of them could not be started; those already started end once the engine
// is terminated and its input closed.
bool StartRunThreads(const std::shared_ptr<EngineRun>& run, const std::shared_ptr<EngineSlot>& slot,
                     const ReactContext& context, platform::UniqueFd& output) noexcept {
  try {
    if (!StartThread([run] { run->Input().RunWriter(); }, {})) {
      run->Input().WriterGone();
      return false;
    }
    auto outputFd = std::make_shared<platform::UniqueFd>(std::move(output));
    if (!StartThread([run, outputFd] { run->ReadOutput(std::move(*outputFd)); }, context.KeepAlive())) {
      return false;
    }
    return StartThread([run, slot] { run->WatchExit(slot); }, context.KeepAlive());
  } catch (...) {
    return false;
  }
}

}  // namespace

StartOutcome StartEngine(const std::shared_ptr<EngineSlot>& slot, const ReactContext& context,
                         const std::string& path, const std::vector<std::string>& args) noexcept {
  try {
    std::lock_guard lock(StartAccess::Lock(*slot));
    std::shared_ptr<EngineRun>& current = StartAccess::Current(*slot);
    if (current) return Refused(kAlreadyRunningCode, kAlreadyRunningMessage);

    platform::JobSpawnFailure failure;
    std::unique_ptr<platform::JobProcess> job = platform::JobProcess::Spawn(path, args, failure);
    if (!job) {
      return Refused(kSpawnFailedCode,
                     SpawnFailedMessage(failure.step, platform::Win32ErrorFromErrno(failure.error)));
    }
    platform::UniqueFd output = job->TakeOutput();
    auto run = std::make_shared<EngineRun>(std::move(job), context);
    current = run;
    if (!StartRunThreads(run, slot, context, output)) {
      // Leave nothing behind: the engine goes, and the slot is free again.
      run->stopRequested.store(true);
      run->Terminate();
      run->Input().Close();
      current.reset();
      return Refused(kSpawnFailedCode, kSpawnExceptionMessage);
    }
    StartOutcome outcome;
    outcome.ok = true;
    outcome.pid = run->Pid();
    return outcome;
  } catch (...) {
    return Refused(kSpawnFailedCode, kSpawnExceptionMessage);
  }
}

// ---- Stops ----

void StopNow(EngineRun& run) noexcept {
  if (!run.IsRunning()) return;
  run.stopRequested.store(true);
  run.Terminate();
}

void BeginStop(EngineRun& run, const std::string& quitLine) noexcept {
  run.stopRequested.store(true);
  try {
    run.Input().Write(quitLine, nullptr);  // a failed write changes nothing here
  } catch (...) {
  }
}

const char* StopInPhases(EngineRun& run, const std::string& quitLine, uint32_t quitWaitMs,
                         uint32_t eofWaitMs) noexcept {
  BeginStop(run, quitLine);
  return FinishStop(run, quitWaitMs, eofWaitMs);
}

const char* FinishStop(EngineRun& run, uint32_t quitWaitMs, uint32_t eofWaitMs) noexcept {
  if (run.WaitForExit(quitWaitMs)) return kOutcomeQuit;
  run.Input().Close();
  if (run.WaitForExit(eofWaitMs)) return kOutcomeEof;
  run.Terminate();
  run.WaitForExit(kKilledWaitMs);
  return kOutcomeKilled;
}

// ---- The process-wide slot ----

void SetProcessEngineSlot(std::shared_ptr<EngineSlot> slot) noexcept {
  std::lock_guard lock(g_processSlotLock);
  g_processSlot = std::move(slot);
}

std::shared_ptr<EngineRun> ProcessEngineRun() noexcept {
  std::shared_ptr<EngineSlot> slot;
  {
    std::lock_guard lock(g_processSlotLock);
    slot = g_processSlot;
  }
  return slot ? slot->Current() : nullptr;
}

void SetThreadStarterForTesting(ThreadStarter starter) {
  std::lock_guard lock(g_threadStarterLock);
  g_threadStarter = std::move(starter);
}

}  // namespace VirelantDesktop::engine
