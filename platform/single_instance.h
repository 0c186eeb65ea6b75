// One running shell per user: a lock file held for the life of the primary
// instance, and a Unix socket beside it on which later starts hand over
// their command line.
//
// Files live in the instance folder: $XDG_RUNTIME_DIR/talvek, else
// /tmp/talvek-<uid>; it is created with mode 0700 and used only when it is a
// real folder (not a link) owned by the user and closed to others. The lock
// is flock(2) on "instance.lock" (released by the kernel when the process
// dies, so a killed instance never blocks the next start); the socket is
// "instance.sock", removed and re-created by each primary. All descriptors
// are close-on-exec, so children never hold the lock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

inline constexpr const char* kInstanceLockName = "instance.lock";
inline constexpr const char* kInstanceSocketName = "instance.sock";
// The largest hand-over message accepted (the command line, NUL-separated).
inline constexpr size_t kMaxHandOverBytes = 64 * 1024;

// The instance folder, created when missing; nullopt when no safe one exists.
std::optional<std::string> InstanceFolder();

// The primary instance's hold: the lock and the listening socket.
class InstanceGuard {
 public:
  InstanceGuard() = default;
  ~InstanceGuard() { Release(); }
  InstanceGuard(InstanceGuard&& other) noexcept { *this = std::move(other); }
  InstanceGuard& operator=(InstanceGuard&& other) noexcept;
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  enum class Outcome { Acquired, HeldByAnother, Failed };
  // Takes the lock without waiting; on success also listens on the socket.
  static Outcome TryAcquire(const std::string& folder, InstanceGuard& guard);

  bool IsHeld() const noexcept { return lock_.IsValid(); }
  // The listening socket (non-blocking); readable when a later start connects.
  int ListenFd() const noexcept { return listen_.Get(); }

  // Removes the socket, then releases the lock, so a new start that gets the
  // lock never finds this instance's socket.
  void Release() noexcept;

 private:
  std::string socketPath_;
  UniqueFd lock_;
  UniqueFd listen_;
};

// Sends `arguments` to the primary instance and waits for its answer, each
// step within `timeoutMs`. Only a peer of the same user running the same
// executable (`executablePath`) is sent anything.
enum class HandOverResult { Accepted, Declined, NoPeer, WrongPeer, Failed };
HandOverResult SendHandOver(const std::string& folder, const std::vector<std::string>& arguments,
                            const std::string& executablePath, int timeoutMs);

// Reads one hand-over from a connection accepted on ListenFd(), within
// `timeoutMs`: the arguments, or nullopt for a peer of another user, a
// malformed or oversized message, or silence.
std::optional<std::vector<std::string>> ReceiveHandOver(int connection, int timeoutMs);
// Answers a received hand-over (1 accepted, 0 declined). Best effort.
void AnswerHandOver(int connection, bool accepted) noexcept;

// The running instance's side: a thread that accepts later starts on the
// guard's socket, reads each command line within `timeoutMs`, answers 1 (or
// 0 while `isQuitting()`) and reports accepted ones through `onAccepted`, on
// its own thread (post to the UI thread from there). A peer that says
// nothing costs this thread the time-out; the UI thread never waits.
class HandOverServer {
 public:
  HandOverServer(int listenFd, int timeoutMs, std::function<bool()> isQuitting,
                 std::function<void(std::vector<std::string>)> onAccepted);
  ~HandOverServer();  // stops and joins the thread
  HandOverServer(const HandOverServer&) = delete;
  HandOverServer& operator=(const HandOverServer&) = delete;

 private:
  void Run();

  int listenFd_;
  int timeoutMs_;
  UniqueFd stopRead_;
  UniqueFd stopWrite_;
  std::function<bool()> isQuitting_;
  std::function<void(std::vector<std::string>)> onAccepted_;
  std::thread thread_;
};

// Encodes and decodes the hand-over message: "TLVW", a 4-byte little-endian
// length, then the arguments each followed by a NUL.
std::string EncodeHandOver(const std::vector<std::string>& arguments);
std::optional<std::vector<std::string>> DecodeHandOver(std::string_view message);

}  // namespace VirelantDesktop::platform
