#include <gtk/gtk.h>

#include <memory>

#include "platform/save_dialog.h"

namespace VirelantDesktop::platform {
namespace {

struct SaveRequest {
  GtkFileChooserNative* chooser = nullptr;
  SaveDialogDone done;
};

void OnResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  std::unique_ptr<SaveRequest> request(static_cast<SaveRequest*>(data));
  PickOutcome outcome = PickOutcome::Cancelled;
  std::string path;
  if (response == GTK_RESPONSE_ACCEPT) {
    if (gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      path = chosen;
      g_free(chosen);
      outcome = PickOutcome::Chosen;
    } else {
      outcome = PickOutcome::Failed;  // not a local file
    }
  }
  g_object_unref(request->chooser);
  if (request->done) request->done(outcome, path);
}

}  // namespace

SaveDialog MakeGtkSaveDialog(void* ownerWindow) {
  return [ownerWindow](const std::string& suggestedName, SaveDialogDone done) {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        nullptr, ownerWindow ? GTK_WINDOW(ownerWindow) : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE, nullptr, nullptr);
    if (chooser == nullptr) {
      done(PickOutcome::Failed, {});
      return;
    }
    GtkFileChooser* fileChooser = GTK_FILE_CHOOSER(chooser);
    gtk_file_chooser_set_local_only(fileChooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(fileChooser, TRUE);
    gtk_file_chooser_set_current_name(fileChooser, suggestedName.c_str());
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* request = new SaveRequest{chooser, std::move(done)};
    g_signal_connect(chooser, "response", G_CALLBACK(OnResponse), request);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  };
}

}  // namespace VirelantDesktop::platform
