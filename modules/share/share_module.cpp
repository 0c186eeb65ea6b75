#include "modules/share/share_module.h"

#include <atomic>
#include <exception>
#include <utility>

#include "bridge/module_registration.h"
#include "modules/media/media_root.h"
#include "modules/share/share_request.h"
#include "modules/share/share_state.h"
#include "platform/share_sheet.h"

namespace VirelantDesktop {
namespace share {

constexpr const char* kInvalidRequest = "invalid_request";
constexpr const char* kPathDenied = "path_denied";
constexpr const char* kShareUnavailable = "share_unavailable";
constexpr const char* kShareFailed = "share_failed";
// The subject of an email and the name the sheet shares under.
constexpr const char* kShareTitle = "TALVEK";

// The module's state, shared with the UI-thread steps and the watchers.
struct Session {
  ShareState state;
};

// The sheet of one request. Touched on the UI thread only: set when the
// sheet shows, closed when the request ends whichever way.
struct RequestSheet {
  std::shared_ptr<platform::ShareSheetHandle> handle;
};

namespace {

std::atomic<std::chrono::steady_clock::rep> g_timeout{
    std::chrono::duration_cast<std::chrono::steady_clock::duration>(kShareTimeout).count()};

void CloseSheet(const std::shared_ptr<RequestSheet>& sheet) {
  if (!sheet->handle) return;
  const auto handle = std::move(sheet->handle);
  sheet->handle = nullptr;
  handle->Close();
}

// The share step, on the UI thread: ends the pending request, shows the
// sheet for this one and starts its watcher.
void ShowShare(const std::shared_ptr<Session>& session, const ReactContext& context, platform::SharePayload payload,
               const ReactPromise<JSValue>& promise) {
  auto sheet = std::make_shared<RequestSheet>();
  // However the request ends, its sheet goes with it.
  ShareSettle settle = [promise, sheet, context](const ShareEnd& end) {
    RunOnUI(context, [sheet] { CloseSheet(sheet); });
    if (end.failure != nullptr) promise.Reject(end.failure);
    else promise.Resolve(JSValue{{"completed", end.completed}});
  };
  const uint64_t id = session->state.Begin(std::move(settle));
  try {
    sheet->handle = platform::ShowShareSheet(payload, [session, id](platform::ShareSheetEnd end) {
      session->state.Complete(id, end == platform::ShareSheetEnd::Chosen);
    });
  } catch (const std::exception&) {
    session->state.Fail(id, kShareFailed);
    return;
  }
  if (!sheet->handle) {
    // No main window, a window hidden in the tray, or no desktop at all.
    session->state.Fail(id, kShareUnavailable);
    return;
  }
  if (!session->state.IsPending(id)) {
    // Ended while showing (the sheet could not stay): nothing may remain.
    CloseSheet(sheet);
    return;
  }
  const std::chrono::steady_clock::duration timeout(g_timeout.load(std::memory_order_relaxed));
  const bool watching =
      StartDetachedThread([session, id, timeout] { RunShareWatcher(session->state, id, {}, timeout); }, {});
  if (!watching) {
    CloseSheet(sheet);
    session->state.Fail(id, kShareFailed);
  }
}

}  // namespace

void SetShareTimeoutForTesting(std::chrono::steady_clock::duration timeout) {
  g_timeout.store(timeout.count(), std::memory_order_relaxed);
}

}  // namespace share

Share::Share() : session_(std::make_shared<share::Session>()) {}

void Share::Describe(ModuleTable<Share>& table) {
  table.Initializer(&Share::Initialize);
  table.Method("share", &Share::share);
}

void Share::Initialize(const ReactContext& context) noexcept { context_.Store(context); }

void Share::share(JSValue request, ReactPromise<JSValue> promise) noexcept {
  std::optional<share::ShareRequest> parsed;
  try {
    parsed = share::ParseShareRequest(request);
  } catch (...) {
  }
  if (!parsed) {
    promise.Reject(share::kInvalidRequest);
    return;
  }
  RunOnWorker(promise, share::kShareFailed,
              [session = session_, context = context_.Get(), parsed = std::move(*parsed)](
                  const ReactPromise<JSValue>& settle) {
                platform::SharePayload payload;
                payload.title = share::kShareTitle;
                payload.text = parsed.text;
                payload.url = parsed.url;
                if (parsed.filePath) {
                  const std::string root = media::MediaRoot();
                  const std::optional<share::SharedFile> file =
                      root.empty() ? std::nullopt : share::CheckSharedPath(*parsed.filePath, root + "/tmp");
                  if (!file) {
                    settle.Reject(share::kPathDenied);
                    return;
                  }
                  payload.filePath = file->path;
                  payload.file = file->file;
                }
                RunOnUI(context, [session, context, payload = std::move(payload), settle] {
                  try {
                    share::ShowShare(session, context, payload, settle);
                  } catch (...) {
                    settle.Reject(share::kShareFailed);
                  }
                });
              });
}

TALVEK_REGISTER_MODULE(Share, "Share");

}  // namespace VirelantDesktop
