#include "updater/restart_record.h"

#include <atomic>
#include <mutex>

namespace TalvekUpdater {
namespace {

std::atomic<bool> g_restarted{false};
std::mutex g_versionLock;  // guards g_version
std::string g_version;

}  // namespace

void RecordRestart(const char* version) noexcept {
  try {
    std::lock_guard lock(g_versionLock);
    g_version = version != nullptr ? version : "";
  } catch (...) {
  }
  g_restarted.store(true, std::memory_order_release);
}

RestartRecord ReadRestartRecord() {
  RestartRecord record;
  record.restarted = g_restarted.load(std::memory_order_acquire);
  std::lock_guard lock(g_versionLock);
  record.version = g_version;
  return record;
}

void ResetRestartRecordForTesting() {
  std::lock_guard lock(g_versionLock);
  g_version.clear();
  g_restarted.store(false, std::memory_order_release);
}

}  // namespace TalvekUpdater
