// Work on the staging area as a whole and on single staged items: the
// housekeeping before each batch, the size budget, and the two operations
// JavaScript may ask for on a staged file (discard it, read it as base64).
// Worker threads only; several may run at once.
#pragma once

#include <cstdint>
#include <string>

namespace VirelantDesktop::attach {

// Removes every entry of the staging root last written 86,401 s or more ago
// (entries dated in the future stay).
void PruneStaging();

// The bytes of all files below `folder`, sub-folders included and links left
// out; 0 when it cannot be opened.
uint64_t StagingSize(const std::string& folder);

// Removes the staged item (its whole GUID folder) that `path` names. False
// when the path is not a staged item's file path, the folder is missing or a
// link, or something in it could not be removed.
bool DiscardStaged(const std::string& path);

// The base64 text of the staged file `path` when it holds at most `maxBytes`
// bytes; "" on every refusal (not a staged item's path, a link, a folder,
// larger than allowed, unreadable) and for an empty file.
std::string ReadStagedBase64(const std::string& path, uint64_t maxBytes);

}  // namespace VirelantDesktop::attach
