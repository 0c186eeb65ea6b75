#include <signal.h>
#include <spawn.h>

#include "platform/process_launch.h"

extern char** environ;

namespace VirelantDesktop::platform {

bool LaunchDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv.front().empty() || argv.front().front() != '/') return false;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> copies = argv;
  std::vector<char*> pointers;
  for (std::string& arg : copies) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, copies.front().c_str(), &actions, &attributes, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return error == 0;
}

}  // namespace VirelantDesktop::platform
