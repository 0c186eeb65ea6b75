#include <gtk/gtk.h>

#include <memory>

#include "platform/folder_picker.h"

namespace VirelantDesktop::platform {
namespace {

struct PickRequest {
  GtkFileChooserNative* chooser = nullptr;
  FolderPickDone done;
};

void OnResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  std::unique_ptr<PickRequest> request(static_cast<PickRequest*>(data));
  PickOutcome outcome = PickOutcome::Cancelled;
  std::string path;
  if (response == GTK_RESPONSE_ACCEPT) {
    if (gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      path = chosen;
      g_free(chosen);
      outcome = PickOutcome::Chosen;
    } else {
      outcome = PickOutcome::Failed;  // not a local folder
    }
  }
  g_object_unref(request->chooser);
  if (request->done) request->done(outcome, path);
}

}  // namespace

FolderPicker MakeGtkFolderPicker(void* ownerWindow) {
  return [ownerWindow](FolderPickDone done) {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        nullptr, ownerWindow ? GTK_WINDOW(ownerWindow) : nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, nullptr,
        nullptr);
    if (chooser == nullptr) {
      done(PickOutcome::Failed, {});
      return;
    }
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* request = new PickRequest{chooser, std::move(done)};
    g_signal_connect(chooser, "response", G_CALLBACK(OnResponse), request);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  };
}

}  // namespace VirelantDesktop::platform
