// Process-wide settings every program of ours applies first thing in main().
#pragma once

namespace VirelantDesktop::platform {

// Ignores SIGPIPE: a write to a closed pipe or socket then fails with EPIPE
// instead of killing the process. Sockets also send with MSG_NOSIGNAL.
void IgnoreSigpipe() noexcept;

// Sets close-on-exec on every descriptor from `firstFd` up. Our own
// descriptors are opened close-on-exec; this catches the ones we inherit and
// the ones libraries open without the flag (the JavaScript engine's
// /dev/urandom, for one), so no child process started later inherits them.
void MarkDescriptorsCloseOnExec(int firstFd = 3) noexcept;

// Applies both. Call before any thread starts.
void InitProcess() noexcept;

}  // namespace VirelantDesktop::platform

namespace VirelantDesktop::platform {

// This process's id.
int CurrentProcessId() noexcept;

// Names the calling thread for debuggers and profilers (at most 15
// characters are kept). Best effort.
void NameCurrentThread(const char* name) noexcept;

}  // namespace VirelantDesktop::platform
