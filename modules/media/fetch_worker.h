// "fetchToCache" past its gate: joins a download of the same identity that
// is already running, or runs one (with its watchdog), streams it into a
// ".part" file or memory, checks what arrived and puts it in place. Every
// caller waiting on the download gets the same result or error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/js_value.h"
#include "bridge/react_promise.h"
#include "modules/media/media_job.h"
#include "modules/media/media_request.h"
#include "modules/media/media_state.h"

namespace VirelantDesktop::media {

// Sends one "Media.progress" event.
using ProgressEmitter = std::function<void(const std::string& requestId, uint64_t received, uint64_t total)>;

// Runs on the request's own worker thread; returns when the download settled
// (or at once, when the request joined a running one).
void FetchToCache(const std::shared_ptr<State>& state, const FetchRequest& request, ReactPromise<JSValue> promise,
                  const ProgressEmitter& emitProgress);

// Takes the waiter with `requestId` out of its download; when that was the
// last waiter the download is stopped as canceled. The waiter's promise
// rejects with "canceled". False when no waiter has this id.
bool CancelWaiter(State& state, const std::string& requestId);

}  // namespace VirelantDesktop::media
