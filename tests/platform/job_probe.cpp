// A child for the job tests, in one of three roles:
//   job_probe report   prints what it inherited: "fds 0 1 2", "pgid N",
//                      "ignored HEX", "blocked HEX", "stderr PATH", then exits
//   job_probe family   starts a grandchild (itself, as "sleep"), prints
//                      "grandchild N", then sleeps
//   job_probe sleep    sleeps
//   job_probe hold GUARD
//                      starts "job_probe family" in a job (GUARD is the job
//                      guard program), prints "engine N" and the family's
//                      first line and "held", then sleeps: the stand-in for a
//                      shell that dies
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

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

int Hold(const char* self, const char* guard) {
  VirelantDesktop::platform::SetJobGuardPathForTesting(guard);
  VirelantDesktop::platform::JobSpawnFailure failure;
  auto job = VirelantDesktop::platform::JobProcess::Spawn(self, {"family"}, failure);
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
  if (role == "sleep") SleepForever();
  if (role == "hold" && argc > 2) return Hold(argv[0], argv[2]);
  return 2;
}
