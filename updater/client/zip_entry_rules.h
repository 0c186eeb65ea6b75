// Which entries of a full package the apply helper unpacks.
//
// A package is a zip archive holding the installation folder's files at its
// top level ("talvek", "libtalvek-update.so", "update.version", "Bundle/...").
// Only regular files and folders are taken, under relative names that stay
// inside the new folder. Pure: no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::update_client {

inline constexpr size_t kMaxEntryNameBytes = 1024;
inline constexpr size_t kMaxEntryComponentBytes = 255;

struct ZipEntryVerdict {
  bool ok = false;
  std::string reason;      // why it was refused (empty when ok)
  bool directory = false;  // the name ends in "/"
  bool executable = false; // a file to be made 0755 (else 0644)
};

// `name` as stored in the archive; `unixMode` the st_mode kept in the upper
// half of the external attributes when the entry was made on Unix (nullopt
// for other systems, which keep no file type). Refused: empty or overlong
// names, absolute names, "\", control characters, empty, "." or ".."
// components, and any type other than a regular file or a folder (symbolic
// links included); a folder type must carry the trailing "/" and a file type
// must not.
ZipEntryVerdict CheckZipEntry(std::string_view name, std::optional<uint32_t> unixMode);

}  // namespace VirelantDesktop::update_client
