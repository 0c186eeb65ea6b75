// Fuzzes the staged-item path rule that guards "discard" and "readBase64":
// whatever JavaScript sends, an accepted path is exactly root/folder/file
// with a GUID-shaped folder and a plain file name, so nothing above or
// beside the item can be named.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modules/attach/attach_types.h"

using VirelantDesktop::attach::ParseStagedItemPath;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kRoot = "/cache/TALVEK-Cache/media/v1/up";
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (const std::string& path : {input, kRoot + "/" + input}) {
    const auto item = ParseStagedItemPath(path, kRoot);
    if (!item) continue;
    if (kRoot + "/" + item->folder + "/" + item->file != path) __builtin_trap();
    if (item->folder.size() != 36 || item->folder.find_first_not_of("0123456789abcdefABCDEF-") != std::string::npos) {
      __builtin_trap();
    }
    if (item->file.empty() || item->file == "." || item->file == ".." ||
        item->file.find_first_of(std::string("/\\:\0", 4)) != std::string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
