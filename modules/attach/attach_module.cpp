#include "modules/attach/attach_module.h"

#include <cstdint>
#include <utility>

#include "bridge/module_registration.h"
#include "modules/attach/attach_types.h"
#include "modules/attach/clipboard_stage.h"
#include "modules/attach/desktop_attach.h"
#include "modules/attach/pick_plan.h"
#include "platform/file_picker.h"
#include "modules/attach/ingest.h"
#include "modules/attach/ingest_result.h"
#include "modules/attach/staging_ops.h"
#include "modules/media/media_root.h"

namespace VirelantDesktop {
namespace {

constexpr const char* kPickFailed = "pick_failed";

// For the methods that never reject: `work` runs on a detached worker and its
// answer resolves the promise; `fallback` does when the thread cannot be
// started or `work` throws.
template <class T, class Work>
void ResolveOnWorker(const ReactPromise<T>& promise, T fallback, Work work) noexcept {
  bool started = false;
  try {
    started = StartDetachedThread(
        [promise, fallback, work = std::move(work)]() mutable {
          try {
            promise.Resolve(work());
          } catch (...) {
            promise.Resolve(std::move(fallback));
          }
        },
        promise.KeepAlive());
  } catch (...) {  // copying the closure failed
  }
  if (!started) promise.Resolve(std::move(fallback));
}

}  // namespace

namespace attach {

ModuleEventSlot& EventSlot() {
  static ModuleEventSlot slot;
  return slot;
}

}  // namespace attach

void Attach::Describe(ModuleTable<Attach>& table) {
  table.Initializer(&Attach::Initialize);
  table.Method("ingest", &Attach::ingest);
  table.Method("discard", &Attach::discard);
  table.Method("readBase64", &Attach::readBase64);
  table.Method("readClipboard", &Attach::readClipboard);
  table.Method("setDropEnabled", &Attach::setDropEnabled);
  table.Method("pickFiles", &Attach::pickFiles);
}

void Attach::Initialize(const ReactContext& context) noexcept {
  context_.Store(context);
  attach::EventSlot().Store(context);
  // The drop target and the paste chord belong to the main window.
  RunOnUI(context, [] { attach::EnsureDropTarget(); });
}

void Attach::setDropEnabled(bool enabled) noexcept {
  RunOnUI(context_.Get(), [enabled] {
    // A window made since the module started is connected now.
    attach::EnsureDropTarget();
    attach::DropTarget().SetEnabled(enabled);
  });
}

void Attach::ingest(std::vector<std::string> paths, double maxFiles, ReactPromise<JSValue> promise) noexcept {
  if (!(maxFiles >= 1)) {  // NaN (not a number) included
    promise.Reject(kPickFailed);
    return;
  }
  const size_t count =
      maxFiles >= static_cast<double>(attach::kMaxBatchFiles) ? attach::kMaxBatchFiles : static_cast<size_t>(maxFiles);
  if (paths.size() > count) paths.resize(count);
  RunOnWorker(promise, kPickFailed, [paths = std::move(paths)](const ReactPromise<JSValue>& settle) {
    if (media::MediaRoot().empty()) {
      settle.Reject(kPickFailed);
      return;
    }
    attach::PrepareStagingBatch();
    JSValue items = JSValueArray{};
    for (const std::string& path : paths) items.push_back(attach::IngestResultToJson(attach::IngestLocalPath(path)));
    settle.Resolve(std::move(items));
  });
}

void Attach::discard(std::string path, ReactPromise<bool> promise) noexcept {
  ResolveOnWorker(promise, false, [path = std::move(path)] {
    return !media::MediaRoot().empty() && attach::DiscardStaged(path);
  });
}

void Attach::readBase64(std::string path, double maxBytes, ReactPromise<JSValue> promise) noexcept {
  if (!(maxBytes > 0) || maxBytes > static_cast<double>(attach::kMaxBase64ReadBytes)) {
    promise.Resolve(nullptr);
    return;
  }
  const auto limit = static_cast<uint64_t>(maxBytes);
  ResolveOnWorker(promise, JSValue(nullptr), [path = std::move(path), limit]() -> JSValue {
    if (media::MediaRoot().empty()) return nullptr;
    std::string text = attach::ReadStagedBase64(path, limit);
    return text.empty() ? JSValue(nullptr) : JSValue(std::move(text));
  });
}

void Attach::readClipboard(double maxFiles, ReactPromise<JSValue> promise) noexcept {
  if (!(maxFiles >= 1)) {  // NaN (not a number) included
    promise.Reject(kPickFailed);
    return;
  }
  const size_t count =
      maxFiles >= static_cast<double>(attach::kMaxBatchFiles) ? attach::kMaxBatchFiles : static_cast<size_t>(maxFiles);
  try {
    // The clipboard is read where the toolkit allows it (the UI thread); the
    // staging happens on a worker.
    platform::ReadClipboardSnapshot([promise, count](platform::ClipboardSnapshot snapshot) {
      RunOnWorker(promise, kPickFailed,
                  [snapshot = std::move(snapshot), count](const ReactPromise<JSValue>& settle) {
                    if (media::MediaRoot().empty()) {
                      settle.Reject(kPickFailed);
                      return;
                    }
                    settle.Resolve(JSValue{{"items", attach::StageClipboardSnapshot(snapshot, count)}});
                  });
    });
  } catch (...) {
    promise.Reject(kPickFailed);
  }
}

void Attach::pickFiles(std::string kind, bool multiple, double maxFiles, std::string filterLabel,
                       ReactPromise<JSValue> promise) noexcept {
  const std::optional<attach::PickPlan> plan = attach::MakePickPlan(kind, multiple, maxFiles, filterLabel);
  if (!plan) {
    promise.Reject(kPickFailed);
    return;
  }
  RunOnUI(context_.Get(), [promise, plan = *plan] {
    platform::FilePickOptions options;
    options.multiple = plan.multiple;
    options.patterns = plan.patterns;
    options.filterLabel = plan.filterLabel;
    const bool shown = platform::PickFiles(options, [promise, plan](platform::PickOutcome outcome,
                                                                    std::vector<std::string> paths) {
      if (outcome == platform::PickOutcome::Cancelled) {
        promise.Resolve(JSValueArray{});
        return;
      }
      if (outcome == platform::PickOutcome::Failed) {
        promise.Reject(kPickFailed);
        return;
      }
      if (paths.size() > plan.count) paths.resize(plan.count);
      RunOnWorker(promise, kPickFailed, [paths = std::move(paths), kind = plan.kind](const ReactPromise<JSValue>& settle) {
        if (media::MediaRoot().empty()) {
          settle.Reject(kPickFailed);
          return;
        }
        attach::PrepareStagingBatch();
        JSValue items = JSValueArray{};
        for (const std::string& path : paths) items.push_back(attach::IngestResultToJson(attach::IngestFile(path, kind)));
        settle.Resolve(std::move(items));
      });
    });
    if (!shown) promise.Reject(kPickFailed);  // no toolkit, no display
  });
}

TALVEK_REGISTER_MODULE(Attach, "Attach");

}  // namespace VirelantDesktop
