// The engine stops that the host's quit path and the updater use, without a
// module object: they act on the run of the most recently initialised
// `EngineHost`. Each blocks for up to its waits; call them off the
// JavaScript and UI threads.
#pragma once

#include <string>

namespace VirelantDesktop {

// The quit path's stop: the quit line, then 3000 ms; closed input, then
// 3000 ms; terminate, then 2000 ms. Returns "not_running", "quit", "eof" or
// "killed".
std::string ShutdownEngine() noexcept;

// The stop before an update is applied: as ShutdownEngine, except that a
// busy engine gets {"cmd":"quit","drainMs":30000} and 38000 ms to leave.
std::string StopEngineForUpdate() noexcept;

// True when the engine is running.
bool IsEngineRunning() noexcept;

}  // namespace VirelantDesktop
