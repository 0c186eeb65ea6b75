#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/desktop_opener.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace VirelantDesktop::platform {
namespace {

constexpr int kLauncherWaitMs = 10000;
constexpr int kShowItemsTimeoutMs = 3000;

// Starts `argv` without a shell: /dev/null for its standard streams, no other
// descriptor, default signals. -1 with errno on failure.
pid_t SpawnLauncher(std::vector<std::string> argv) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return pid;
}

// Waits for the launcher off the calling thread: done(true) for exit status
// 0, or when it still runs after 10 s (it is reaped later); done(false) for
// any other end.
void AwaitLauncher(pid_t pid, OpenDone callerDone) {
  auto shared = std::make_shared<OpenDone>(std::move(callerDone));
  auto wait = [pid, shared]() mutable {
    OpenDone done = std::move(*shared);
    UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    bool ended = true;
    if (pidfd) {
      pollfd entry{pidfd.Get(), POLLIN, 0};
      int ready;
      while ((ready = poll(&entry, 1, kLauncherWaitMs)) < 0 && errno == EINTR) {
      }
      ended = ready > 0;
    }
    if (!ended) {
      if (done) done(true);  // still working on it: it started
      done = nullptr;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (done) done(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  };
  try {
    std::thread(std::move(wait)).detach();
  } catch (...) {
    // No thread to wait on: the launcher did start. It is reaped by whoever
    // collects children at exit.
    if (*shared) (*shared)(true);
  }
}

void Launch(const std::string& target, OpenDone done) {
  pid_t pid = SpawnLauncher({"xdg-open", target});
  if (pid < 0 && errno == ENOENT) pid = SpawnLauncher({"gio", "open", target});
  if (pid < 0) {
    if (done) done(false);
    return;
  }
  AwaitLauncher(pid, std::move(done));
}

// Asks the file manager to show `path` selected. False when there is no
// session bus or no file manager answering on it.
bool ShowItemsOverDBus(const std::string& path) {
  const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') return false;  // never start a bus of our own
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address, static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (bus == nullptr) {
    g_clear_error(&error);
    return false;
  }
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  bool shown = false;
  if (uri != nullptr) {
    const gchar* uris[] = {uri, nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
        "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, kShowItemsTimeoutMs,
        nullptr, &error);
    shown = reply != nullptr;
    if (reply != nullptr) g_variant_unref(reply);
    g_clear_error(&error);
    g_free(uri);
  }
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
  return shown;
}

class LinuxDesktopOpener final : public DesktopOpener {
 public:
  void Open(const std::string& target, OpenDone done) override { Launch(target, std::move(done)); }

  void ShowFile(const std::string& path, OpenDone callerDone) override {
    auto shared = std::make_shared<OpenDone>(std::move(callerDone));
    auto show = [path, shared]() mutable {
      OpenDone done = std::move(*shared);
      if (ShowItemsOverDBus(path)) {
        if (done) done(true);
        return;
      }
      const size_t slash = path.find_last_of('/');
      Launch(slash == 0 ? std::string("/") : path.substr(0, slash), std::move(done));
    };
    try {
      std::thread(std::move(show)).detach();
    } catch (...) {
      if (*shared) (*shared)(false);  // no thread to talk to the bus on
    }
  }
};

}  // namespace

std::shared_ptr<DesktopOpener> MakeDesktopOpener() { return std::make_shared<LinuxDesktopOpener>(); }

}  // namespace VirelantDesktop::platform
