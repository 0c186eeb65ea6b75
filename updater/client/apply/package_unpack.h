// Unpacks a full package (a zip archive) into a new folder, taking only
// what zip_entry_rules.h accepts, within a size budget.
#pragma once

#include <cstdint>
#include <string>

namespace VirelantDesktop::update_client {

struct UnpackLimits {
  uint64_t maxTotalBytes = uint64_t{8} << 30;  // all files together, as unpacked
  uint64_t maxEntries = 100000;
};

// Reads the archive open at `packageFd` (from its start; the descriptor stays
// the caller's) and writes it below `destination`, which must not exist yet
// and is created. Files get 0755 when the archive marks them executable,
// else 0644; every file and folder is flushed. Throws std::runtime_error on
// the first refused entry, a broken archive, or an exceeded limit; what was
// written is then left for the caller to remove.
void UnpackPackage(int packageFd, const std::string& packagePath, const std::string& destination,
                   const UnpackLimits& limits = {});

}  // namespace VirelantDesktop::update_client
