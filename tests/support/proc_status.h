// What /proc says of a process, for tests that check which processes a job
// leaves behind.
#pragma once

#include <sys/types.h>

#include <chrono>

namespace VirelantDesktop::testing {

// Gone, or a zombie nobody reaps (the container's init does not).
bool IsDead(pid_t pid);
// Waits until IsDead(pid); false at the deadline.
bool BecomesDead(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Field `n` of /proc/<pid>/stat as proc(5) numbers them (4 the parent, 5 the
// process group), or -1.
long StatField(pid_t pid, int n);
inline long Parent(pid_t pid) { return StatField(pid, 4); }
inline long Group(pid_t pid) { return StatField(pid, 5); }

}  // namespace VirelantDesktop::testing
