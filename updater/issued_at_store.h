// The issued-at store over files, and the updater's whole-file writes.
//
// File form: "talvek-issued-v1\n", an optional "-" and 1 to 15 decimal
// digits (UTC milliseconds), "\n", nothing else. The primary file is
// "talvek-issuedat.<channel>.txt"; an older program kept the value in a
// legacy file ("talvek-issuedat.txt", production only), which is migrated
// into the primary file and then removed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "updater/update_policy.h"

namespace VirelantDesktop::updater {

// The value of an issued-at file's text; nullopt when it is not exactly the form.
std::optional<int64_t> ParseIssuedAtText(std::string_view text);
std::string IssuedAtText(int64_t value);

// A function giving a file path; "" means there is no such file.
using PathProvider = std::function<std::string()>;

class FileIssuedAtStore final : public IssuedAtStore {
 public:
  FileIssuedAtStore(PathProvider primary, std::vector<PathProvider> legacy);

  // Found with the primary value (legacy files at or below it are removed);
  // a missing or malformed primary file is rebuilt from the largest legacy
  // value; a link, folder or anything but a file at the primary path is
  // Unreadable.
  LoadResult Load(int64_t& value) override;
  // Writes the primary file through a temporary file named after the
  // process, flushed to disk before it replaces the old one.
  bool Save(int64_t value) override;

 private:
  std::optional<int64_t> Migrate();
  void CleanUpLegacy(int64_t primaryValue);

  PathProvider primary_;
  std::vector<PathProvider> legacy_;
};

// Replaces `path` with `bytes` in one step: a temporary file beside it
// (path + ".tmp"), written, flushed to disk, renamed over the target, and the
// folder flushed. False on any failure (the target is then unchanged).
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace VirelantDesktop::updater
