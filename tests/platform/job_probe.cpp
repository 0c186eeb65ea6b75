// A child for the job tests, in one of these roles:
//   job_probe report   prints what it inherited: "fds 0 1 2", "pgid N",
//                      "ignored HEX", "blocked HEX", "stderr PATH", then exits
//   job_probe family   starts a grandchild (itself, as "sleep"), prints
//                      "grandchild N", then sleeps
//   job_probe escape   leaves its group and session (setsid), then as family
//   job_probe daemon   starts a grandchild the way daemons are started (fork,
//                      setsid, start it, the middle one exits), so that it is
//                      in a session of its own and nobody's child; prints
//                      "grandchild N", then sleeps
//   job_probe sleep    sleeps
//   job_probe linger MS
//                      sleeps MS milliseconds, whatever signals come, then
//                      exits 0
//   job_probe hold GUARD [PATH ARG...]
//                      starts PATH with ARGs (default: "job_probe family") in
//                      a job (GUARD is the job guard program), prints
//                      "engine N" and the job's first line and "held", then
//                      sleeps: the stand-in for a shell that dies
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/job_process.h"

extern char** environ;

namespace {

[[noreturn]] void SleepForever() {
  for (;;) pause();
}

std::string StatusLine(const char* key) {
  FILE* file = fopen("/proc/self/status", "r");
  char line[256];
  std::string found;
  while (file != nullptr && fgets(line, sizeof line, file) != nullptr) {
    if (strncmp(line, key, strlen(key)) == 0) found = line + strlen(key);
  }
  if (file != nullptr) fclose(file);
  while (!found.empty() && (found.back() == '\n' || found.front() == '\t' || found.front() == ' ')) {
    if (found.back() == '\n') found.pop_back();
    else found.erase(0, 1);
  }
  return found;
}

int Report() {
  std::string fds = "fds";
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
    if (entry->d_name[0] == '.' || atoi(entry->d_name) == dirfd(dir)) continue;
    fds += std::string(" ") + entry->d_name;
  }
  if (dir != nullptr) closedir(dir);
  char target[256] = {};
  if (readlink("/proc/self/fd/2", target, sizeof target - 1) < 0) strcpy(target, "?");
  printf("%s\npgid %d\nignored %s\nblocked %s\nstderr %s\n", fds.c_str(), static_cast<int>(getpgrp()),
         StatusLine("SigIgn:").c_str(), StatusLine("SigBlk:").c_str(), target);
  return 0;
}

int Family(const char* self) {
  const char* argv[] = {self, "sleep", nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, self, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return 1;
  printf("grandchild %d\n", static_cast<int>(pid));
  fflush(stdout);
  SleepForever();
}

int Daemon(const char* self) {
  fflush(stdout);
  const pid_t middle = fork();
  if (middle < 0) return 1;
  if (middle == 0) {
    setsid();
    const char* argv[] = {self, "sleep", nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) _exit(1);
    printf("grandchild %d\n", static_cast<int>(pid));
    fflush(stdout);
    _exit(0);
  }
  while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  SleepForever();
}

int Linger(const char* ms) {
  const long total = atol(ms);
  timespec left{total / 1000, (total % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  return 0;
}

int Hold(const char* self, const char* guard, std::vector<std::string> command) {
  VirelantDesktop::platform::SetJobGuardPathForTesting(guard);
  if (command.empty()) command = {self, "family"};
  VirelantDesktop::platform::JobSpawnFailure failure;
  auto job = VirelantDesktop::platform::JobProcess::Spawn(command[0], {command.begin() + 1, command.end()}, failure);
  if (!job) return 1;
  printf("engine %d\n", static_cast<int>(job->Pid()));
  fflush(stdout);
  VirelantDesktop::platform::UniqueFd output = job->TakeOutput();
  std::string line;
  char byte;
  while (line.find('\n') == std::string::npos && read(output.Get(), &byte, 1) == 1) line += byte;
  printf("%sheld\n", line.c_str());
  fflush(stdout);
  SleepForever();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string role = argc > 1 ? argv[1] : "";
  if (role == "report") return Report();
  if (role == "family") return Family(argv[0]);
  if (role == "escape") {
    setsid();
    return Family(argv[0]);
  }
  if (role == "daemon") return Daemon(argv[0]);
  if (role == "sleep") SleepForever();
  if (role == "linger" && argc > 2) return Linger(argv[2]);
  if (role == "hold" && argc > 2) return Hold(argv[0], argv[2], std::vector<std::string>(argv + 3, argv + argc));
  return 2;
}
