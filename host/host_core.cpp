#include "host/host_core.h"

#include <cstdio>

namespace VirelantDesktop::host {

HostCore::HostCore(const HostOptions& options, GMainContext* uiContext)
    : options_(options), uiContext_(g_main_context_ref(uiContext)) {}

HostCore::~HostCore() {
  jsQueue_.reset();
  uiQueue_.reset();
  g_main_context_unref(uiContext_);
}

std::shared_ptr<HostCore> HostCore::Create(const HostOptions& options, GMainContext* uiContext,
                                           GMainContext* jsContext) {
  std::shared_ptr<HostCore> core(new HostCore(options, uiContext));
  // Tokens may outlive the core; the idle callback must not.
  std::weak_ptr<HostCore> weak = core;
  core->liveness_ = std::make_shared<Liveness>([weak] {
    if (auto alive = weak.lock()) alive->OnIdle();
  });
  core->jsQueue_ = std::make_shared<LoopTaskQueue>(jsContext, core->liveness_);
  core->uiQueue_ = std::make_shared<LoopTaskQueue>(uiContext, core->liveness_);
  return core;
}

void HostCore::RequestExit(int code) noexcept {
  bool expected = false;
  if (!exitRequested_.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return;
  exitCode_.store(code, std::memory_order_release);
  // Start() re-checks the flag after every iteration of the UI loop.
  g_main_context_wakeup(uiContext_);
}

void HostCore::OnIdle() noexcept {
  if (!options_.exitWhenIdle) return;
  RequestExit(HadScriptError() ? kExitScriptError : kExitOk);
}

void HostCore::Write(ConsoleStream stream, std::string_view line) noexcept {
  if (silenced_.load(std::memory_order_acquire)) return;
  std::lock_guard lock(outputMutex_);
  try {
    if (options_.output) {
      options_.output(stream, line);
      return;
    }
  } catch (...) {
    return;
  }
  FILE* file = stream == ConsoleStream::Out ? stdout : stderr;
  fwrite(line.data(), 1, line.size(), file);
  fputc('\n', file);
  fflush(file);
}

}  // namespace VirelantDesktop::host
