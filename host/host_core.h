// The thread-safe heart of a running host, shared by everything that may
// outlive a call: promise sinks, contexts handed to modules, timers.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string_view>

#include "host/instance_settings.h"
#include "host/liveness.h"
#include "host/loop_task_queue.h"

namespace VirelantDesktop::host {

class HostCore : public std::enable_shared_from_this<HostCore> {
 public:
  static std::shared_ptr<HostCore> Create(const HostOptions& options, GMainContext* uiContext,
                                          GMainContext* jsContext);

  // Queue work for the JS thread / UI thread. False when the host stopped.
  bool PostJs(Task task) noexcept { return jsQueue_->Post(std::move(task)); }
  bool PostUi(Task task) noexcept { return uiQueue_->Post(std::move(task)); }

  Liveness& liveness() noexcept { return *liveness_; }
  const std::shared_ptr<Liveness>& livenessPtr() const noexcept { return liveness_; }
  LoopTaskQueue& jsQueue() noexcept { return *jsQueue_; }
  LoopTaskQueue& uiQueue() noexcept { return *uiQueue_; }
  const HostOptions& options() const noexcept { return options_; }

  // Ends Start() with `code`; the first request wins. Any thread.
  void RequestExit(int code) noexcept;
  bool ExitRequested() const noexcept { return exitRequested_.load(std::memory_order_acquire); }
  int ExitCode() const noexcept { return exitCode_.load(std::memory_order_acquire); }

  void NoteScriptError() noexcept { hadError_.store(true, std::memory_order_release); }
  bool HadScriptError() const noexcept { return hadError_.load(std::memory_order_acquire); }

  // One line to the output sink. Dropped once exit was requested from script
  // (`quiet` after exit), so nothing prints after __talvekRun.exit().
  void Write(ConsoleStream stream, std::string_view line) noexcept;
  void Silence() noexcept { silenced_.store(true, std::memory_order_release); }

 private:
  HostCore(const HostOptions& options, GMainContext* uiContext);
  void OnIdle() noexcept;

 public:
  ~HostCore();
  HostCore(const HostCore&) = delete;
  HostCore& operator=(const HostCore&) = delete;

 private:

  HostOptions options_;
  GMainContext* uiContext_;
  std::shared_ptr<Liveness> liveness_;
  std::shared_ptr<LoopTaskQueue> jsQueue_;
  std::shared_ptr<LoopTaskQueue> uiQueue_;
  std::atomic<bool> exitRequested_{false};
  std::atomic<int> exitCode_{kExitOk};
  std::atomic<bool> hadError_{false};
  std::atomic<bool> silenced_{false};
  std::mutex outputMutex_;  // guards calls into options_.output (keeps lines whole)
};

}  // namespace VirelantDesktop::host
