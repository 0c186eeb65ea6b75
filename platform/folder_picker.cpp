#include "platform/folder_picker.h"

#include <mutex>

namespace VirelantDesktop::platform {
namespace {

std::mutex g_pickerLock;  // guards g_picker
FolderPicker g_picker;

}  // namespace

void InstallFolderPicker(FolderPicker picker) {
  std::lock_guard lock(g_pickerLock);
  g_picker = std::move(picker);
}

bool PickFolder(FolderPickDone done) {
  FolderPicker picker;
  {
    std::lock_guard lock(g_pickerLock);
    picker = g_picker;
  }
  if (!picker) return false;
  picker(std::move(done));
  return true;
}

}  // namespace VirelantDesktop::platform
