#include "platform/save_dialog.h"

#include "platform/installed_service.h"

namespace VirelantDesktop::platform {
namespace {

InstalledService<SaveDialog> g_dialog;

}  // namespace

void InstallSaveDialog(SaveDialog dialog) { g_dialog.Install(std::move(dialog)); }

bool ShowSaveDialog(const std::string& suggestedName, SaveDialogDone done) {
  const SaveDialog dialog = g_dialog.Get();
  if (!dialog) return false;
  dialog(suggestedName, std::move(done));
  return true;
}

}  // namespace VirelantDesktop::platform
