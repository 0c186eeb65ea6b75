// talvek-update-apply: started detached by the update client. Waits for
// the shell to end, then applies the downloaded package (apply_update.h)
// and logs the outcome to <root>/packages/apply.log. Exit status: 0 applied,
// 1 failed, 2 bad usage.
#include <chrono>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "platform/process_setup.h"
#include "updater/client/apply/apply_update.h"
#include "updater/client/apply_request.h"
#include "updater/client/client_os.h"
#include "updater/client/installation.h"

namespace {

namespace uc = VirelantDesktop::update_client;

// The shell has 5 s to quit after it hands the update over; a shell still
// running long after that is not ending, and its files must not be swapped.
constexpr std::chrono::seconds kShellExitTimeout{120};
constexpr uint64_t kMaxLogBytes = 256 * 1024;
constexpr int kHandedPidfd = 3;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  // The pidfd arrives as descriptor 3; it is marked close-on-exec below, as
  // is everything else we inherited.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::optional<uc::ApplyRequest> request = uc::ParseApplyRequest(arguments);
  const int pidfd = request ? uc::os::InheritedPidfd(kHandedPidfd, request->waitPid) : -1;
  VirelantDesktop::platform::InitProcess();
  if (!request) return 2;

  const std::string log = request->root + "/packages/" + uc::kApplyLogName;
  const auto record = [&](const std::string& line) {
    uc::os::AppendLogLine(log, UtcNow() + " " + request->version + ": " + line, kMaxLogBytes);
  };
  if (!uc::os::WaitForProcessEnd(pidfd, request->waitPid, kShellExitTimeout)) {
    record("not applied: process " + std::to_string(request->waitPid) + " did not end");
    return 1;
  }
  try {
    record(uc::ApplyUpdate(*request));
    return 0;
  } catch (const std::exception& error) {
    record(std::string("failed: ") + error.what());
  } catch (...) {
    record("failed: unexpected failure");
  }
  return 1;
}
