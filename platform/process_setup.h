// Process-wide settings every program of ours applies first thing in main().
#pragma once

namespace VirelantDesktop::platform {

// Ignores SIGPIPE: a write to a closed pipe or socket then fails with EPIPE
// instead of killing the process. Sockets also send with MSG_NOSIGNAL.
void IgnoreSigpipe() noexcept;

// Applies everything above. Call before any thread starts.
void InitProcess() noexcept;

}  // namespace VirelantDesktop::platform
