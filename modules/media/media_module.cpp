#include "modules/media/media_module.h"

#include <mutex>

#include "bridge/module_registration.h"
#include "modules/media/cache_scope.h"
#include "modules/media/fetch_worker.h"
#include "modules/media/media_operations.h"
#include "modules/media/media_request.h"
#include "modules/media/media_root.h"
#include "platform/ascii_text.h"
#include "platform/save_dialog.h"

namespace VirelantDesktop {
namespace {

constexpr const char* kProgressEvent = "Media.progress";

platform::OpenDone SettleWith(const ReactPromise<bool>& promise) {
  return [promise](bool launched) {
    if (launched) promise.Resolve(true);
    else promise.Reject(media::kOpenFailed);
  };
}

// The scope argument, or nullopt when it is not a valid scope.
std::optional<media::CacheScope> ScopeArg(const JSValue& value) noexcept {
  try {
    return media::ParseCacheScope(value);
  } catch (...) {
    return std::nullopt;
  }
}

// A slot of its own for a worker, which may outlive the module object.
std::shared_ptr<ModuleEventSlot> EventSlotOf(const ReactContext& context) {
  auto slot = std::make_shared<ModuleEventSlot>();
  slot->Store(context);
  return slot;
}

}  // namespace

void Media::Describe(ModuleTable<Media>& table) {
  table.Initializer(&Media::Initialize);
  table.Method("fetchToCache", &Media::fetchToCache);
  table.Method("peek", &Media::peek);
  table.Method("cancel", &Media::cancel);
  table.Method("remove", &Media::remove);
  table.Method("removeThread", &Media::removeThread);
  table.Method("clear", &Media::clear);
  table.Method("stats", &Media::stats);
  table.Method("materialize", &Media::materialize);
  table.Method("saveCopy", &Media::saveCopy);
  table.Method("openFile", &Media::openFile);
  table.Method("revealInFolder", &Media::revealInFolder);
}

void Media::Initialize(const ReactContext& context) noexcept { context_.Store(context); }

void Media::fetchToCache(JSValue request, ReactPromise<JSValue> reply) noexcept {
  media::FetchRequestCheck check;
  try {
    check = media::ParseFetchRequest(request);
  } catch (...) {
    check.code = media::kInvalidRequest;
  }
  if (!check.request) {
    reply.Reject(check.code);
    return;
  }
  RunOnWorker(reply, media::kCacheUnavailable,
              [state = state_, request = std::move(*check.request),
               slot = EventSlotOf(context_.Get())](ReactPromise<JSValue>& promise) {
                media::FetchToCache(state, request, promise,
                                    [&slot](const std::string& requestId, uint64_t received, uint64_t total) {
                                      EmitModuleEvent(*slot, kProgressEvent,
                                                      JSValue{{"requestId", requestId},
                                                              {"received", received},
                                                              {"total", total}});
                                    });
              });
}

void Media::peek(JSValue scopeValue, std::string url, ReactPromise<JSValue> reply) noexcept {
  const std::optional<media::CacheScope> scope = ScopeArg(scopeValue);
  if (!scope || !media::ValidateMediaUrl(url).ok()) {
    reply.Reject(media::kInvalidRequest);
    return;
  }
  RunOnWorker(reply, media::kCacheUnavailable,
              [state = state_, scope = *scope, url = std::move(url)](ReactPromise<JSValue>& promise) {
                media::WaitWhileWiping(*state);
                promise.Resolve(media::Peek(*state, scope, url));
              });
}

void Media::cancel(std::string requestId, ReactPromise<bool> reply) noexcept {
  try {
    media::CancelWaiter(*state_, requestId);
  } catch (...) {
  }
  reply.Resolve(true);
}

void Media::remove(JSValue scopeValue, std::string url, ReactPromise<bool> reply) noexcept {
  const std::optional<media::CacheScope> scope = ScopeArg(scopeValue);
  if (!scope) {
    reply.Reject(media::kInvalidRequest);
    return;
  }
  RunOnWorker(reply, media::kCacheUnavailable,
              [state = state_, scope = *scope, url = std::move(url)](ReactPromise<bool>& promise) {
                media::WaitWhileWiping(*state);
                media::Remove(*state, scope, url);
                promise.Resolve(true);
              });
}

void Media::removeThread(JSValue scopeValue, ReactPromise<bool> reply) noexcept {
  const std::optional<media::CacheScope> scope = ScopeArg(scopeValue);
  if (!scope) {
    reply.Reject(media::kInvalidRequest);
    return;
  }
  RunOnWorker(reply, media::kCacheUnavailable,
              [state = state_, scope = *scope](ReactPromise<bool>& promise) {
                media::WaitWhileWiping(*state);
                if (media::RemoveThread(*state, scope)) promise.Resolve(true);
                else promise.Reject(media::kCacheUnavailable);
              });
}

void Media::clear(JSValue scopeValue, ReactPromise<bool> reply) noexcept {
  std::optional<std::string> uid;
  if (scopeValue.is_object()) {
    const std::optional<media::CacheScope> scope = ScopeArg(scopeValue);
    if (!scope) {
      reply.Reject(media::kInvalidRequest);
      return;
    }
    uid = scope->uid;
  }
  RunOnWorker(reply, media::kCacheUnavailable, [state = state_, uid](ReactPromise<bool>& promise) {
    if (media::Clear(*state, uid)) promise.Resolve(true);
    else promise.Reject(media::kCacheUnavailable);
  });
}

void Media::stats(ReactPromise<JSValue> reply) noexcept {
  RunOnWorker(reply, media::kCacheUnavailable, [state = state_](ReactPromise<JSValue>& promise) {
    media::WaitWhileWiping(*state);
    promise.Resolve(media::Stats(*state));
  });
}

void Media::materialize(std::string path, std::string name, ReactPromise<std::string> reply) noexcept {
  RunOnWorker(reply, media::kCacheUnavailable,
              [state = state_, path = std::move(path), name = std::move(name)](ReactPromise<std::string>& promise) {
                media::WaitWhileWiping(*state);
                const media::CopyOutcome outcome = media::Materialize(*state, path, name);
                if (outcome.code) promise.Reject(outcome.code);
                else promise.Resolve(outcome.path);
              });
}

void Media::saveCopy(std::string path, std::string name, ReactPromise<JSValue> reply) noexcept {
  RunOnWorker(reply, media::kSaveFailed,
              [state = state_, context = context_.Get(), path = std::move(path),
               name = std::move(name)](ReactPromise<JSValue>& promise) {
                media::WaitWhileWiping(*state);
                const media::SavePlan plan = media::PlanSaveCopy(*state, path, name);
                if (plan.code) {
                  promise.Reject(plan.code);
                  return;
                }
                RunOnUI(context, [state, plan, promise] {
                  const bool shown = platform::ShowSaveDialog(
                      plan.displayName, [state, plan, promise](platform::PickOutcome outcome, const std::string& destination) {
                        if (outcome == platform::PickOutcome::Cancelled) {
                          promise.Resolve(nullptr);
                          return;
                        }
                        if (outcome != platform::PickOutcome::Chosen) {
                          promise.Reject(media::kSaveFailed);
                          return;
                        }
                        RunOnWorker(promise, media::kSaveFailed,
                                    [state, source = plan.source, destination](ReactPromise<JSValue>& copied) {
                                      if (media::SaveCopyTo(*state, source, destination)) copied.Resolve(destination);
                                      else copied.Reject(media::kSaveFailed);
                                    });
                      });
                  if (!shown) promise.Reject(media::kSaveFailed);  // no dialog in a run without a desktop
                });
              });
}

void Media::openFile(std::string path, ReactPromise<bool> reply) noexcept {
  RunOnWorker(reply, media::kOpenFailed,
              [state = state_, context = context_.Get(), path = std::move(path)](ReactPromise<bool>& promise) {
                media::WaitWhileWiping(*state);
                std::optional<std::string> canonical;
                {
                  std::lock_guard store(state->storeLock);
                  media::RunHousekeeping(*state);  // before the first look at the files
                  canonical = media::GuardCachePath(path, /*materialisedOnly=*/true);
                }
                if (!canonical) {
                  promise.Reject(media::kPathDenied);
                  return;
                }
                const size_t dot = canonical->rfind('.');
                const size_t slash = canonical->rfind('/');
                const std::string ext = platform::LowerAscii(dot == std::string::npos || dot < slash
                                                                 ? std::string_view()
                                                                 : std::string_view(*canonical).substr(dot + 1));
                if (!media::IsOpenableExtension(ext)) {
                  promise.Reject(media::kBlockedType);
                  return;
                }
                RunOnUI(context, [target = *canonical, promise] {
                  platform::SharedDesktopOpener()->Open(target, SettleWith(promise));
                });
              });
}

void Media::revealInFolder(std::string path, ReactPromise<bool> reply) noexcept {
  RunOnWorker(reply, media::kOpenFailed,
              [state = state_, context = context_.Get(), path = std::move(path)](ReactPromise<bool>& promise) {
                const std::optional<std::string> canonical = media::RevealAllowed(*state, path);
                if (!canonical) {
                  promise.Reject(media::kPathDenied);
                  return;
                }
                RunOnUI(context, [target = *canonical, promise] {
                  platform::SharedDesktopOpener()->ShowFile(target, SettleWith(promise));
                });
              });
}

TALVEK_REGISTER_MODULE(Media, "Media");

}  // namespace VirelantDesktop
