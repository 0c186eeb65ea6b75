// The process-wide record of a start made by an update: the update client's
// "restarted" hook writes it at start-up, `Updater.restartDetected` reads it.
#pragma once

#include <string>

namespace TalvekUpdater {

struct RestartRecord {
  bool restarted = false;
  std::string version;  // the version the hook was given
};

// The "restarted" hook's work: stores `version` (null counts as "") and then
// sets the flag. Any thread.
void RecordRestart(const char* version) noexcept;

RestartRecord ReadRestartRecord();

// Tests only: back to "not restarted".
void ResetRestartRecordForTesting();

}  // namespace TalvekUpdater
