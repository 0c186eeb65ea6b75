// The host's side of the module surface: the ReactContext given to module
// initializers and the sinks behind module promises. Both are thread-safe
// and only post to the host's queues, so they may outlive the host: once it
// stopped, what they post is dropped.
#pragma once

#include <cstdint>
#include <memory>

#include "bridge/react_context.h"
#include "bridge/react_promise.h"
#include "host/host_core.h"

namespace VirelantDesktop::host {

ReactContext MakeHostReactContext(const std::shared_ptr<HostCore>& core);

// The sink of pending promise `id`. It holds one unit of the host's liveness
// until its outcome has been delivered on the JS thread (or dropped).
std::unique_ptr<PromiseSink> MakeHostPromiseSink(const std::shared_ptr<HostCore>& core, uint64_t id);

}  // namespace VirelantDesktop::host
