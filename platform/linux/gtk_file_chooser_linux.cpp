// The GTK file choosers: the folder chooser and the save dialog, both native
// (the desktop portal when there is one) and modal for the main window.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_picker.h"
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

struct FilesRequest {
  GtkFileChooserNative* chooser = nullptr;
  FilesPickDone done;
};

void OnFilesResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  std::unique_ptr<FilesRequest> request(static_cast<FilesRequest*>(data));
  PickOutcome outcome = PickOutcome::Cancelled;
  std::vector<std::string> paths;
  if (response == GTK_RESPONSE_ACCEPT) {
    outcome = PickOutcome::Chosen;
    GSList* chosen = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
    for (GSList* item = chosen; item != nullptr; item = item->next) {
      paths.emplace_back(static_cast<const char*>(item->data));  // items without a local path are not listed
    }
    g_slist_free_full(chosen, g_free);
  }
  g_object_unref(request->chooser);
  if (request->done) request->done(outcome, std::move(paths));
}

}  // namespace

FilesPicker MakeGtkFilesPicker(void* ownerWindow) {
  return [ownerWindow](const FilePickOptions& options, FilesPickDone done) {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        "Open", ownerWindow ? GTK_WINDOW(ownerWindow) : nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    if (chooser == nullptr) {
      done(PickOutcome::Failed, {});
      return;
    }
    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    gtk_file_chooser_set_local_only(files, TRUE);
    gtk_file_chooser_set_select_multiple(files, options.multiple ? TRUE : FALSE);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, options.filterLabel.c_str());
    if (options.patterns.empty()) gtk_file_filter_add_pattern(filter, "*");
    for (const std::string& pattern : options.patterns) {
      gtk_file_filter_add_pattern(filter, pattern.c_str());
      // Names on disk come in either case.
      std::string upper = pattern;
      for (char& c : upper) c = static_cast<char>(g_ascii_toupper(c));
      if (upper != pattern) gtk_file_filter_add_pattern(filter, upper.c_str());
    }
    gtk_file_chooser_add_filter(files, filter);  // takes the filter
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* request = new FilesRequest{chooser, std::move(done)};
    g_signal_connect(chooser, "response", G_CALLBACK(OnFilesResponse), request);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  };
}

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
