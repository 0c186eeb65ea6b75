// The share sheet on GTK: a small window of ours, owned by and centred over
// the main window, listing the targets that can take the payload. Arrow keys
// move between them, Enter or a click picks one, Escape, "Cancel" or the
// window's close button dismiss it. Hiding the main window (to the tray)
// dismisses it too, so it never floats over nothing.
//
// The targets:
// - "Email": the desktop portal's ComposeEmail with subject, body and the
//   file as an attachment, else xdg-email with the same;
// - "Open with…": the portal's OpenFile/OpenURI asking for the application,
//   else GTK's application chooser and a launch of the chosen one;
// - "Copy": the text and the link as text, a file as text/uri-list and
//   x-special/gnome-copied-files (what file managers paste);
// - "Save as…": the save dialog, then a copy of the open file.
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/save_copy.h"
#include "platform/save_dialog.h"
#include "platform/share_sheet.h"

namespace VirelantDesktop::platform {
namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr int kPortalLookupMs = 1000;
constexpr int kSheetWidth = 320;

// ---------------------------------------------------------------------------
// Small GLib helpers

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
  void operator()(gpointer data) const { g_free(data); }
};

bool ProgramOnPath(const char* name) {
  std::unique_ptr<gchar, GFree> found(g_find_program_in_path(name));
  return found != nullptr;
}

// The portal's identifier of `window`: "x11:<xid>" on X11; "" elsewhere (the
// portal then places its dialogs itself).
std::string PortalParentOf(GtkWindow* window) {
  if (window == nullptr) return "";
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (gdkWindow == nullptr || !GDK_IS_X11_WINDOW(gdkWindow)) return "";
  char text[32];
  std::snprintf(text, sizeof text, "x11:%lx", static_cast<unsigned long>(gdk_x11_window_get_xid(gdkWindow)));
  return text;
}

GDBusConnection* SessionBus() {
  // Only an existing bus: no autolaunch of one for a sheet.
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) return nullptr;
  return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
}

// Whether the running portal offers `interface` (its "version" property).
bool PortalOffers(const char* interface) {
  GObjectPtr<GDBusConnection> bus(SessionBus());
  if (!bus) return false;
  GVariant* owner = g_dbus_connection_call_sync(
      bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", kPortalName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, kPortalLookupMs, nullptr, nullptr);
  if (owner == nullptr) return false;
  gboolean running = FALSE;
  g_variant_get(owner, "(b)", &running);
  g_variant_unref(owner);
  if (!running) return false;
  GVariant* version = g_dbus_connection_call_sync(
      bus.get(), kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", interface, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kPortalLookupMs,
      nullptr, nullptr);
  if (version == nullptr) return false;
  g_variant_unref(version);
  return true;
}

// A modal message over `owner` for a target that could not take the payload.
void ShowFailure(GtkWindow* owner, const char* text) {
  GtkWidget* dialog = gtk_message_dialog_new(owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                             GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "%s", text);
  g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show(dialog);
}

// The main window while it lives: a weak reference that GTK clears when the
// window is destroyed, for work that ends after the sheet.
class OwnerRef {
 public:
  explicit OwnerRef(GtkWindow* window) : window_(window) {
    if (window_ != nullptr) g_object_add_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
  }
  ~OwnerRef() {
    if (window_ != nullptr) g_object_remove_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
  }
  OwnerRef(const OwnerRef&) = delete;
  OwnerRef& operator=(const OwnerRef&) = delete;
  GtkWindow* get() const { return window_; }

 private:
  GtkWindow* window_;
};

// A portal call that passes file descriptors; `failed` runs on the UI
// thread when the call did not reach the portal or was refused.
struct PortalCall {
  std::function<void()> failed;
};

void OnPortalReply(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<PortalCall> call(static_cast<PortalCall*>(data));
  GError* raw = nullptr;
  GVariant* reply =
      g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), nullptr, result, &raw);
  GErrorPtr error(raw);
  if (reply != nullptr) {
    g_variant_unref(reply);
    return;
  }
  try {
    if (call->failed) call->failed();
  } catch (const std::exception&) {
  }
}

// Calls `method` of the portal's `interface`; false when there is no bus
// (then `failed` is not called).
bool CallPortal(const char* interface, const char* method, GVariant* parameters, GUnixFDList* fds,
                std::function<void()> failed) {
  GObjectPtr<GDBusConnection> bus(SessionBus());
  if (!bus) {
    g_variant_unref(g_variant_ref_sink(parameters));
    return false;
  }
  auto* call = new PortalCall{std::move(failed)};
  g_dbus_connection_call_with_unix_fd_list(bus.get(), kPortalName, kPortalPath, interface, method, parameters,
                                           G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, fds, nullptr,
                                           OnPortalReply, call);
  return true;
}

// ---------------------------------------------------------------------------
// The targets

bool SpawnXdgEmail(const SharePayload& payload) {
  const std::vector<std::string> arguments = XdgEmailArguments(payload);
  std::vector<gchar*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<gchar*>(argument.c_str()));
  argv.push_back(nullptr);
  GPid pid = 0;
  // No shell: every argument reaches xdg-email as it is.
  const GSpawnFlags flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                     G_SPAWN_STDIN_FROM_DEV_NULL);
  if (!g_spawn_async(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, &pid, nullptr)) return false;
  g_child_watch_add(pid, [](GPid child, gint, gpointer) { g_spawn_close_pid(child); }, nullptr);
  return true;
}

void ShareByEmail(const SharePayload& payload, const std::shared_ptr<OwnerRef>& owner) {
  auto fallBack = [payload, owner] {
    if (!SpawnXdgEmail(payload) && owner->get() != nullptr) {
      ShowFailure(owner->get(), "No email program could be started.");
    }
  };
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "subject", g_variant_new_string(payload.title.c_str()));
  const std::string body = ShareText(payload);
  if (!body.empty()) g_variant_builder_add(&options, "{sv}", "body", g_variant_new_string(body.c_str()));
  GObjectPtr<GUnixFDList> fds(g_unix_fd_list_new());
  if (payload.file && *payload.file) {
    const int index = g_unix_fd_list_append(fds.get(), payload.file->Get(), nullptr);  // a duplicate
    if (index >= 0) {
      GVariantBuilder handles;
      g_variant_builder_init(&handles, G_VARIANT_TYPE("ah"));
      g_variant_builder_add(&handles, "h", index);
      g_variant_builder_add(&options, "{sv}", "attachment_fds", g_variant_builder_end(&handles));
    }
  }
  GVariant* parameters =
      g_variant_new("(sa{sv})", PortalParentOf(owner->get()).c_str(), &options);
  if (!CallPortal("org.freedesktop.portal.Email", "ComposeEmail", parameters, fds.get(), fallBack)) fallBack();
}

struct ChooserLaunch {
  std::optional<std::string> filePath;
  std::optional<std::string> url;
};

void OnAppChosen(GtkDialog* dialog, gint response, gpointer data) {
  std::unique_ptr<ChooserLaunch> launch(static_cast<ChooserLaunch*>(data));
  GObjectPtr<GAppInfo> app(response == GTK_RESPONSE_OK ? gtk_app_chooser_get_app_info(GTK_APP_CHOOSER(dialog))
                                                       : nullptr);
  GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(dialog));
  GObjectPtr<GdkAppLaunchContext> context(
      gdk_display_get_app_launch_context(gtk_widget_get_display(GTK_WIDGET(dialog))));
  gtk_widget_destroy(GTK_WIDGET(dialog));
  if (!app) return;
  bool launched = false;
  if (launch->filePath) {
    GObjectPtr<GFile> file(g_file_new_for_path(launch->filePath->c_str()));
    GList files{file.get(), nullptr, nullptr};
    launched = g_app_info_launch(app.get(), &files, G_APP_LAUNCH_CONTEXT(context.get()), nullptr);
  } else if (launch->url) {
    GList uris{const_cast<char*>(launch->url->c_str()), nullptr, nullptr};
    launched = g_app_info_launch_uris(app.get(), &uris, G_APP_LAUNCH_CONTEXT(context.get()), nullptr);
  }
  if (!launched && parent != nullptr) ShowFailure(parent, "The application could not be started.");
}

void ShowAppChooser(GtkWindow* owner, const SharePayload& payload) {
  const auto flags = static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT);
  GtkWidget* dialog = nullptr;
  if (payload.filePath) {
    GObjectPtr<GFile> file(g_file_new_for_path(payload.filePath->c_str()));
    dialog = gtk_app_chooser_dialog_new(owner, flags, file.get());
  } else {
    dialog = gtk_app_chooser_dialog_new_for_content_type(owner, flags, "x-scheme-handler/https");
  }
  auto* launch = new ChooserLaunch{payload.filePath, payload.url};
  g_signal_connect(dialog, "response", G_CALLBACK(OnAppChosen), launch);
  gtk_widget_show(dialog);
}

void OpenWith(const SharePayload& payload, const std::shared_ptr<OwnerRef>& owner) {
  auto fallBack = [payload, owner] {
    if (owner->get() != nullptr) ShowAppChooser(owner->get(), payload);
  };
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "ask", g_variant_new_boolean(TRUE));
  const std::string parent = PortalParentOf(owner->get());
  if (payload.filePath && payload.file && *payload.file) {
    GObjectPtr<GUnixFDList> fds(g_unix_fd_list_new());
    const int index = g_unix_fd_list_append(fds.get(), payload.file->Get(), nullptr);
    if (index < 0) {
      fallBack();
      return;
    }
    GVariant* parameters = g_variant_new("(sha{sv})", parent.c_str(), index, &options);
    if (!CallPortal("org.freedesktop.portal.OpenURI", "OpenFile", parameters, fds.get(), fallBack)) fallBack();
    return;
  }
  if (payload.url) {
    GVariant* parameters = g_variant_new("(ssa{sv})", parent.c_str(), payload.url->c_str(), &options);
    if (!CallPortal("org.freedesktop.portal.OpenURI", "OpenURI", parameters, nullptr, fallBack)) fallBack();
    return;
  }
  g_variant_builder_clear(&options);
}

// What "Copy" offers, kept by the clipboard until another owner takes it.
struct CopiedContent {
  std::string uriList;
  std::string gnomeFiles;
  std::string text;
};

constexpr guint kUriListInfo = 1, kGnomeFilesInfo = 2, kTextInfo = 3;

void OnClipboardGet(GtkClipboard*, GtkSelectionData* selection, guint info, gpointer data) {
  const auto* content = static_cast<const CopiedContent*>(data);
  auto set = [selection](const std::string& bytes) {
    gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8,
                           reinterpret_cast<const guchar*>(bytes.data()), static_cast<gint>(bytes.size()));
  };
  if (info == kUriListInfo) set(content->uriList);
  else if (info == kGnomeFilesInfo) set(content->gnomeFiles);
  else if (info == kTextInfo) gtk_selection_data_set_text(selection, content->text.c_str(), static_cast<gint>(content->text.size()));
}

void OnClipboardClear(GtkClipboard*, gpointer data) { delete static_cast<CopiedContent*>(data); }

bool CopyToClipboard(GtkWidget* widget, const SharePayload& payload) {
  auto content = std::make_unique<CopiedContent>();
  GtkTargetList* targets = gtk_target_list_new(nullptr, 0);
  if (payload.filePath) {
    std::unique_ptr<gchar, GFree> uri(g_filename_to_uri(payload.filePath->c_str(), nullptr, nullptr));
    if (uri) {
      content->uriList = UriListOf(uri.get());
      content->gnomeFiles = GnomeCopiedFilesOf(uri.get());
      gtk_target_list_add(targets, gdk_atom_intern_static_string("text/uri-list"), 0, kUriListInfo);
      gtk_target_list_add(targets, gdk_atom_intern_static_string("x-special/gnome-copied-files"), 0, kGnomeFilesInfo);
    }
  }
  content->text = ShareText(payload);
  if (!content->text.empty()) gtk_target_list_add_text_targets(targets, kTextInfo);
  gint count = 0;
  GtkTargetEntry* entries = gtk_target_table_new_from_list(targets, &count);
  gtk_target_list_unref(targets);
  GtkClipboard* clipboard = gtk_clipboard_get_for_display(gtk_widget_get_display(widget), GDK_SELECTION_CLIPBOARD);
  bool set = false;
  if (count > 0) {
    set = gtk_clipboard_set_with_data(clipboard, entries, static_cast<guint>(count), OnClipboardGet,
                                      OnClipboardClear, content.get());
    if (set) {
      content.release();  // the clipboard's now, freed by OnClipboardClear
      // A clipboard manager may keep it once the shell has quit.
      gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    }
  }
  gtk_target_table_free(entries, count);
  return set;
}

void SaveAs(const SharePayload& payload, const std::shared_ptr<OwnerRef>& owner) {
  if (!payload.filePath || !payload.file) return;
  const std::string& path = *payload.filePath;
  const std::string name = path.substr(path.rfind('/') + 1);
  ShowSaveDialog(name, [file = payload.file, owner](PickOutcome outcome, const std::string& destination) {
    if (outcome != PickOutcome::Chosen) {
      if (outcome == PickOutcome::Failed && owner->get() != nullptr) {
        ShowFailure(owner->get(), "The copy could not be saved there.");
      }
      return;
    }
    // The copy is file work: off the UI thread, the answer back on it.
    try {
      std::thread([file, destination, owner] {
        const bool saved = SaveCopyOfOpenFile(*file, destination);
        if (saved) return;
        auto* keep = new std::shared_ptr<OwnerRef>(owner);
        g_idle_add(
            [](gpointer data) -> gboolean {
              std::unique_ptr<std::shared_ptr<OwnerRef>> held(static_cast<std::shared_ptr<OwnerRef>*>(data));
              if ((*held)->get() != nullptr) ShowFailure((*held)->get(), "The copy could not be saved.");
              return G_SOURCE_REMOVE;
            },
            keep);
      }).detach();
    } catch (const std::exception&) {
      if (owner->get() != nullptr) ShowFailure(owner->get(), "The copy could not be saved.");
    }
  });
}

// ---------------------------------------------------------------------------
// The sheet

class GtkShareSheet final : public ShareSheetHandle, public std::enable_shared_from_this<GtkShareSheet> {
 public:
  GtkShareSheet(GtkWindow* owner, SharePayload payload, ShareSheetDone done)
      : owner_(std::make_shared<OwnerRef>(owner)), payload_(std::move(payload)), done_(std::move(done)) {}

  // No destructor work: the window holds the sheet, so by the time the
  // sheet goes the window is gone (and any thread may drop the last handle).

  void Show() {
    ShareMeans means;
    means.email = ProgramOnPath("xdg-email") || PortalOffers("org.freedesktop.portal.Email");
    targets_ = ShareTargetsFor(payload_, means);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_title(window, "Share");
    gtk_window_set_transient_for(window, owner_->get());
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_destroy_with_parent(window, TRUE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_default_size(window, kSheetWidth, -1);
    // The window holds the sheet while it is shown.
    g_object_set_data_full(G_OBJECT(window_), "talvek-share-sheet", new std::shared_ptr<GtkShareSheet>(shared_from_this()),
                           [](gpointer data) { delete static_cast<std::shared_ptr<GtkShareSheet>*>(data); });

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_container_add(GTK_CONTAINER(window_), box);

    GtkWidget* heading = gtk_label_new(nullptr);
    std::unique_ptr<gchar, GFree> markup(g_markup_printf_escaped("<b>Share</b>"));
    gtk_label_set_markup(GTK_LABEL(heading), markup.get());
    gtk_label_set_xalign(GTK_LABEL(heading), 0);
    gtk_box_pack_start(GTK_BOX(box), heading, FALSE, FALSE, 0);

    GtkWidget* summary = gtk_label_new(ShareSummary(payload_).c_str());
    gtk_label_set_xalign(GTK_LABEL(summary), 0);
    gtk_label_set_ellipsize(GTK_LABEL(summary), PANGO_ELLIPSIZE_END);
    gtk_label_set_max_width_chars(GTK_LABEL(summary), 40);
    gtk_style_context_add_class(gtk_widget_get_style_context(summary), GTK_STYLE_CLASS_DIM_LABEL);
    gtk_box_pack_start(GTK_BOX(box), summary, FALSE, FALSE, 0);

    GtkWidget* frame = gtk_frame_new(nullptr);
    list_ = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list_), GTK_SELECTION_BROWSE);
    gtk_list_box_set_activate_on_single_click(GTK_LIST_BOX(list_), TRUE);
    for (const ShareTarget target : targets_) gtk_container_add(GTK_CONTAINER(list_), MakeRow(target));
    gtk_container_add(GTK_CONTAINER(frame), list_);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 0);

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    GtkWidget* cancel = gtk_button_new_with_mnemonic("_Cancel");
    gtk_container_add(GTK_CONTAINER(buttons), cancel);
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);

    g_signal_connect(list_, "row-activated", G_CALLBACK(OnRowActivated), this);
    g_signal_connect(cancel, "clicked", G_CALLBACK(OnCancel), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
    ownerHidden_ = g_signal_connect(owner_->get(), "hide", G_CALLBACK(OnOwnerHidden), this);

    gtk_widget_show_all(window_);
    CentreOverOwner();
    // The first target is where the keyboard starts.
    if (GtkListBoxRow* first = gtk_list_box_get_row_at_index(GTK_LIST_BOX(list_), 0)) {
      gtk_list_box_select_row(GTK_LIST_BOX(list_), first);
      gtk_widget_grab_focus(GTK_WIDGET(first));
    }
    gtk_window_present(window);
  }

  void Close() override {
    done_ = nullptr;
    if (ownerHidden_ != 0 && owner_->get() != nullptr) g_signal_handler_disconnect(owner_->get(), ownerHidden_);
    ownerHidden_ = 0;
    if (window_ == nullptr) return;
    GtkWidget* window = window_;
    window_ = nullptr;
    gtk_widget_destroy(window);  // drops the window's hold on the sheet
  }

 private:
  // Over the middle of the main window's frame. Placed by us: window
  // managers differ in where they put a dialog on their own.
  void CentreOverOwner() {
    GdkWindow* owner = owner_->get() != nullptr ? gtk_widget_get_window(GTK_WIDGET(owner_->get())) : nullptr;
    if (owner == nullptr) return;
    GdkRectangle frame{};
    gdk_window_get_frame_extents(owner, &frame);
    GtkRequisition size{};
    gtk_widget_get_preferred_size(window_, nullptr, &size);
    const int width = std::max(size.width, kSheetWidth);  // the default size wins over a narrower natural one
    gtk_window_move(GTK_WINDOW(window_), frame.x + (frame.width - width) / 2,
                    frame.y + (frame.height - size.height) / 2);
  }

  static GtkWidget* MakeRow(ShareTarget target) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_container_set_border_width(GTK_CONTAINER(row), 8);
    const char* icon = target == ShareTarget::Email      ? "mail-send"
                       : target == ShareTarget::OpenWith ? "document-open"
                       : target == ShareTarget::Copy     ? "edit-copy"
                                                         : "document-save-as";
    if (gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), icon)) {
      gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_LARGE_TOOLBAR), FALSE, FALSE, 0);
    }
    GtkWidget* label = gtk_label_new(ShareTargetLabel(target));
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    return row;
  }

  // Ends the sheet: it closes, then `done` hears how.
  void End(ShareSheetEnd end) {
    const auto self = shared_from_this();  // closing drops the window's hold
    ShareSheetDone done = std::move(done_);
    Close();
    if (!done) return;
    try {
      done(end);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "talvek: share: %s\n", error.what());
    }
  }

  void Choose(ShareTarget target) {
    const auto self = shared_from_this();
    // The clipboard is set before the request ends, so whoever hears of the
    // choice finds it there.
    try {
      switch (target) {
        case ShareTarget::Copy:
          if (!CopyToClipboard(window_, payload_)) std::fprintf(stderr, "talvek: share: the clipboard refused the copy\n");
          break;
        case ShareTarget::Email:
          ShareByEmail(payload_, owner_);
          break;
        case ShareTarget::OpenWith:
          OpenWith(payload_, owner_);
          break;
        case ShareTarget::SaveAs:
          SaveAs(payload_, owner_);
          break;
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "talvek: share: %s\n", error.what());
    }
    End(ShareSheetEnd::Chosen);
  }

  static void OnRowActivated(GtkListBox*, GtkListBoxRow* row, gpointer data) {
    auto* sheet = static_cast<GtkShareSheet*>(data);
    const int index = gtk_list_box_row_get_index(row);
    if (index >= 0 && static_cast<size_t>(index) < sheet->targets_.size()) sheet->Choose(sheet->targets_[index]);
  }
  static void OnCancel(GtkButton*, gpointer data) { static_cast<GtkShareSheet*>(data)->End(ShareSheetEnd::Dismissed); }
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<GtkShareSheet*>(data)->End(ShareSheetEnd::Dismissed);
    return TRUE;
  }
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<GtkShareSheet*>(data)->End(ShareSheetEnd::Dismissed);
    return TRUE;  // End destroyed it already
  }
  static void OnDestroy(GtkWidget*, gpointer data) {
    // Destroyed from outside (with the main window): a dismissal.
    auto* sheet = static_cast<GtkShareSheet*>(data);
    if (sheet->window_ == nullptr) return;
    sheet->window_ = nullptr;
    sheet->End(ShareSheetEnd::Dismissed);
  }
  static void OnOwnerHidden(GtkWidget*, gpointer data) { static_cast<GtkShareSheet*>(data)->End(ShareSheetEnd::Dismissed); }

  std::shared_ptr<OwnerRef> owner_;
  SharePayload payload_;
  ShareSheetDone done_;
  std::vector<ShareTarget> targets_;
  GtkWidget* window_ = nullptr;
  GtkWidget* list_ = nullptr;
  gulong ownerHidden_ = 0;
};

}  // namespace

ShareSheetService MakeGtkShareSheet(void* ownerWindow) {
  return [ownerWindow](const SharePayload& payload, ShareSheetDone done) -> std::shared_ptr<ShareSheetHandle> {
    auto* owner = static_cast<GtkWindow*>(ownerWindow);
    // Over a window the user can see, or not at all.
    if (owner == nullptr || !gtk_widget_get_visible(GTK_WIDGET(owner))) return nullptr;
    auto sheet = std::make_shared<GtkShareSheet>(owner, payload, std::move(done));
    sheet->Show();
    return sheet;
  };
}

}  // namespace VirelantDesktop::platform
