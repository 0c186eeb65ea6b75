// Reading a whole file, telling a missing file apart from one that exists
// but cannot be read.
#pragma once

#include <string>

namespace VirelantDesktop::platform {

enum class ReadStatus {
  Ok,
  Missing,  // no such file (ENOENT), or a folder on the way is not a folder (ENOTDIR)
  Failed,   // exists but cannot be opened or read (permissions, a folder, I/O)
};

struct ReadFileResult {
  ReadStatus status = ReadStatus::Failed;
  std::string data;
  int error = 0;  // errno when not Ok
};

ReadFileResult ReadWholeFile(const std::string& path);

}  // namespace VirelantDesktop::platform
