// talvek-update-apply: started detached by the update client. Waits for
// the shell to end, then applies the downloaded package (apply_update.h)
// and logs the outcome to <root>/packages/apply.log. Exit status: 0 applied,
// 1 failed, 2 bad usage.
//
// The shell has already quit when an apply fails, so the helper then
// restarts the installed version itself (when asked to restart), removes
// the package and records it in <root>/packages/apply-failed.json, which
// keeps the client's check from offering that exact package again. A
// package that no longer matches what the client checked is only left for
// the next download to replace; while another helper holds the
// installation, that one does all of this.
#include <chrono>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/process_setup.h"
#include "updater/client/apply/apply_update.h"
#include "updater/client/apply_request.h"
#include "updater/client/client_os.h"
#include "updater/client/installation.h"
#include "updater/client/package_names.h"

namespace {

namespace uc = VirelantDesktop::update_client;

// The shell has 5 s to quit after it hands the update over; a shell still
// running long after that is not ending, and its files must not be swapped.
constexpr std::chrono::seconds kShellExitTimeout{120};
constexpr uint64_t kMaxLogBytes = 256 * 1024;
constexpr size_t kMaxReasonBytes = 1024;
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

  const std::string packages = request->root + "/packages/";
  const auto record = [&](const std::string& line) {
    uc::os::AppendLogLine(packages + uc::kApplyLogName, UtcNow() + " " + request->version + ": " + line,
                          kMaxLogBytes);
  };
  if (!uc::os::WaitForProcessEnd(pidfd, request->waitPid, kShellExitTimeout)) {
    // The shell still runs: there is nothing to restart.
    record("not applied: process " + std::to_string(request->waitPid) + " did not end");
    return 1;
  }

  uc::ApplyError::Kind kind = uc::ApplyError::Kind::kFailed;
  std::string failure;
  try {
    record(uc::ApplyUpdate(*request));
    return 0;
  } catch (const uc::ApplyError& error) {
    kind = error.kind();
    failure = error.what();
  } catch (const std::exception& error) {
    failure = error.what();
  } catch (...) {
    failure = "unexpected failure";
  }
  record("failed: " + failure);
  if (kind == uc::ApplyError::Kind::kBusy) return 1;

  if (kind == uc::ApplyError::Kind::kFailed) {
    uc::os::RemoveFile(request->packagePath);
    const uc::FailedApply failed{request->version, request->sha256, failure.substr(0, kMaxReasonBytes)};
    const auto written = VirelantDesktop::platform::WriteFileAtomic(packages + uc::kFailedApplyName,
                                                                    uc::FailedApplyText(failed), {.tempPath = "", .mode = 0644});
    if (!written.ok()) record("cannot record the failed package");
  }
  if (request->restart) {
    const std::string current = request->root + "/" + uc::kCurrentFolderName;
    std::vector<std::string> installed = {current + "/" + uc::kExecutableName};
    installed.insert(installed.end(), request->restartArgs.begin(), request->restartArgs.end());
    try {
      uc::os::SpawnDetached(installed, current, -1);
      record("restarted the installed version");
    } catch (const std::exception& error) {
      record(std::string("cannot restart the installed version: ") + error.what());
    }
  }
  return 1;
}
