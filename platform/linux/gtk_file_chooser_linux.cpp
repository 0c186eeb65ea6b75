// The GTK file choosers: the folder chooser and the save dialog, both native
// (the desktop portal when there is one) and modal for the main window.
#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "platform/folder_picker.h"
#include "platform/save_dialog.h"

namespace VirelantDesktop::platform {
namespace {

using ChooserDone = std::function<void(PickOutcome outcome, const std::string& path)>;

struct ChooserRequest {
  GtkFileChooserNative* chooser = nullptr;
  ChooserDone done;
};

void OnResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  std::unique_ptr<ChooserRequest> request(static_cast<ChooserRequest*>(data));
  PickOutcome outcome = PickOutcome::Cancelled;
  std::string path;
  if (response == GTK_RESPONSE_ACCEPT) {
    if (gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      path = chosen;
      g_free(chosen);
      outcome = PickOutcome::Chosen;
    } else {
      outcome = PickOutcome::Failed;  // not a local file or folder
    }
  }
  g_object_unref(request->chooser);
  if (request->done) request->done(outcome, path);
}

// Shows a local-only chooser for `action`; `configure` sets it up first.
void ShowChooser(void* ownerWindow, GtkFileChooserAction action, const std::function<void(GtkFileChooser*)>& configure,
                 ChooserDone done) {
  GtkFileChooserNative* chooser =
      gtk_file_chooser_native_new(nullptr, ownerWindow ? GTK_WINDOW(ownerWindow) : nullptr, action, nullptr, nullptr);
  if (chooser == nullptr) {
    done(PickOutcome::Failed, {});
    return;
  }
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  if (configure) configure(GTK_FILE_CHOOSER(chooser));
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  auto* request = new ChooserRequest{chooser, std::move(done)};
  g_signal_connect(chooser, "response", G_CALLBACK(OnResponse), request);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

}  // namespace

FolderPicker MakeGtkFolderPicker(void* ownerWindow) {
  return [ownerWindow](FolderPickDone done) {
    ShowChooser(ownerWindow, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, nullptr, std::move(done));
  };
}

SaveDialog MakeGtkSaveDialog(void* ownerWindow) {
  return [ownerWindow](const std::string& suggestedName, SaveDialogDone done) {
    ShowChooser(
        ownerWindow, GTK_FILE_CHOOSER_ACTION_SAVE,
        [&suggestedName](GtkFileChooser* chooser) {
          gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
          gtk_file_chooser_set_current_name(chooser, suggestedName.c_str());
        },
        std::move(done));
  };
}

}  // namespace VirelantDesktop::platform
