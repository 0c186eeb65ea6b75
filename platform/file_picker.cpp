#include "platform/file_picker.h"

#include "platform/installed_service.h"

namespace VirelantDesktop::platform {
namespace {

InstalledService<FilesPicker> g_picker;

}  // namespace

void InstallFilesPicker(FilesPicker picker) { g_picker.Install(std::move(picker)); }

bool PickFiles(const FilePickOptions& options, FilesPickDone done) {
  const FilesPicker picker = g_picker.Get();
  if (!picker) return false;
  picker(options, std::move(done));
  return true;
}

}  // namespace VirelantDesktop::platform
