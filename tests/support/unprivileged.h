// Running part of a test as an ordinary user.
//
// The tests run as root in CI, where permission checks refuse nothing, so a
// fault only an ordinary user meets (a read-only file whose attributes its
// owner can no longer change, a folder others cannot enter) stays hidden.
// These helpers run a piece of a test in a forked child that has switched to
// the user and group 65534 for good. Run them while no other thread of the
// test is busy (a fork copies only the calling thread).
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace VirelantDesktop::testing {

inline constexpr unsigned kUnprivilegedId = 65534;

// Gives `path` and everything below it to the user the child runs as (only
// when the test runs as root; otherwise it is the test's own already), and
// lets every user pass through the folders above it (adds the execute bit
// for others where it is missing).
void HandToUnprivilegedUser(const std::string& path);

// Runs `body` in a forked child and returns what it returned: "" when its
// checks held, else what failed. GoogleTest assertions must not be used in
// the body (the child's results are never reported); it ends with _exit, so
// no destructor of the test process runs twice. The text tells instead what
// went wrong around the body: the child crashed, or ran past `timeout` and
// was killed.
std::string RunInChild(const std::function<std::string()>& body,
                       std::chrono::seconds timeout = std::chrono::seconds(60));

// Inside a RunInChild body: switches the process to uid and gid 65534 with no
// supplementary groups, for good. True when it runs unprivileged afterwards
// (also when the test did not run as root).
bool DropToUnprivilegedUser();

// RunInChild with the privileges dropped before `body` runs.
std::string RunUnprivileged(const std::function<std::string()>& body,
                            std::chrono::seconds timeout = std::chrono::seconds(60));

}  // namespace VirelantDesktop::testing
