#include "platform/folder_picker.h"

#include "platform/installed_service.h"

namespace VirelantDesktop::platform {
namespace {

InstalledService<FolderPicker> g_picker;

}  // namespace

void InstallFolderPicker(FolderPicker picker) { g_picker.Install(std::move(picker)); }

bool PickFolder(FolderPickDone done) {
  const FolderPicker picker = g_picker.Get();
  if (!picker) return false;
  picker(std::move(done));
  return true;
}

}  // namespace VirelantDesktop::platform
