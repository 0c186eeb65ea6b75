#include "platform/file_picker.h"

#include <mutex>

namespace VirelantDesktop::platform {
namespace {

std::mutex g_pickerLock;  // guards g_picker
FilesPicker g_picker;

}  // namespace

void InstallFilesPicker(FilesPicker picker) {
  std::lock_guard lock(g_pickerLock);
  g_picker = std::move(picker);
}

bool PickFiles(const FilePickOptions& options, FilesPickDone done) {
  FilesPicker picker;
  {
    std::lock_guard lock(g_pickerLock);
    picker = g_picker;
  }
  if (!picker) return false;
  picker(options, std::move(done));
  return true;
}

}  // namespace VirelantDesktop::platform
