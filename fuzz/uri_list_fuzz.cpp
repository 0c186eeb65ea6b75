// Dragged and copied file lists of any shape: every path taken is absolute,
// holds no NUL byte, and there are never more than asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "modules/attach/drop_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t limit = size % 7;
  for (const auto& paths : {VirelantDesktop::filedrop::PathsFromUriList(text, limit),
                            VirelantDesktop::filedrop::PathsFromCopiedFiles(text, 50)}) {
    if (paths.size() > 50) std::abort();
    for (const auto& path : paths) {
      if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) std::abort();
    }
  }
  if (VirelantDesktop::filedrop::PathsFromUriList(text, limit).size() > limit) std::abort();
  return 0;
}
