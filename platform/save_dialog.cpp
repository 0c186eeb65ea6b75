#include "platform/save_dialog.h"

#include <mutex>

namespace VirelantDesktop::platform {
namespace {

std::mutex g_dialogLock;  // guards g_dialog
SaveDialog g_dialog;

}  // namespace

void InstallSaveDialog(SaveDialog dialog) {
  std::lock_guard lock(g_dialogLock);
  g_dialog = std::move(dialog);
}

bool ShowSaveDialog(const std::string& suggestedName, SaveDialogDone done) {
  SaveDialog dialog;
  {
    std::lock_guard lock(g_dialogLock);
    dialog = g_dialog;
  }
  if (!dialog) return false;
  dialog(suggestedName, std::move(done));
  return true;
}

}  // namespace VirelantDesktop::platform
