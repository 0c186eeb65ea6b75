#include "tests/support/proc_status.h"

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace VirelantDesktop::testing {

bool IsDead(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

bool BecomesDead(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!IsDead(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

long StatField(pid_t pid, int n) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1;
  // The command name may hold spaces and parentheses: fields count from
  // the last ")".
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= n; ++i) fields >> field;
  return n > 3 && !field.empty() ? std::stol(field) : -1;
}

}  // namespace VirelantDesktop::testing
