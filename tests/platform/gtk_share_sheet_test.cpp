// The GTK share sheet in a real window (scripts/with-desktop.sh): what it
// lists, what each target does with the payload, and how it ends.
#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gtk_desktop.h"
#include "platform/save_dialog.h"
#include "platform/share_sheet.h"
#include "tests/support/gtk_screen.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::PumpFor;
using testing::PumpUntil;

GtkWindow* ShownSheet() {
  GtkWindow* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    const char* title = gtk_window_get_title(window);
    if (title != nullptr && std::string(title) == "Share" && gtk_widget_get_visible(GTK_WIDGET(window))) found = window;
  }
  g_list_free(windows);
  return found;
}

template <class Match>
GtkWidget* FindWidget(GtkWidget* root, Match match) {
  if (match(root)) return root;
  if (!GTK_IS_CONTAINER(root)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(root));
  GtkWidget* found = nullptr;
  for (GList* item = children; item != nullptr && found == nullptr; item = item->next) {
    found = FindWidget(GTK_WIDGET(item->data), match);
  }
  g_list_free(children);
  return found;
}

GtkListBox* TargetList(GtkWindow* sheet) {
  return GTK_LIST_BOX(FindWidget(GTK_WIDGET(sheet), [](GtkWidget* widget) { return GTK_IS_LIST_BOX(widget); }));
}

std::vector<std::string> TargetLabels(GtkWindow* sheet) {
  std::vector<std::string> labels;
  GtkListBox* list = TargetList(sheet);
  for (int i = 0; GtkListBoxRow* row = gtk_list_box_get_row_at_index(list, i); ++i) {
    GtkWidget* label = FindWidget(GTK_WIDGET(row), [](GtkWidget* widget) { return GTK_IS_LABEL(widget); });
    labels.emplace_back(label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "?");
  }
  return labels;
}

void Pick(GtkWindow* sheet, const std::string& label) {
  const std::vector<std::string> labels = TargetLabels(sheet);
  const auto at = std::find(labels.begin(), labels.end(), label);
  ASSERT_NE(at, labels.end()) << label;
  GtkListBox* list = TargetList(sheet);
  g_signal_emit_by_name(list, "row-activated", gtk_list_box_get_row_at_index(list, static_cast<int>(at - labels.begin())));
}

void PressEscape(GtkWindow* sheet) {
  GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
  event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(sheet))));
  event->key.keyval = GDK_KEY_Escape;
  gtk_widget_event(GTK_WIDGET(sheet), event);
  gdk_event_free(event);
}

std::string ClipboardTarget(const char* target) {
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  GtkSelectionData* data = gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern(target, FALSE));
  if (data == nullptr) return "<none>";
  const guchar* bytes = gtk_selection_data_get_data(data);
  std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(std::max(0, gtk_selection_data_get_length(data))));
  gtk_selection_data_free(data);
  return text;
}

class GtkShareSheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (InitGtk() != GtkStart::Ready) GTEST_SKIP() << "no display: run under scripts/with-desktop.sh";
    // A stand-in xdg-email that writes down its arguments, one per line.
    const std::string script = bin_.Join("xdg-email");
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << bin_.Join("mail.args")
                          << ".part\" && mv \"" << bin_.Join("mail.args.part") << "\" \"" << bin_.Join("mail.args")
                          << "\"\n";
    fs::permissions(script, fs::perms::owner_all);
    const char* path = getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    setenv("PATH", (bin_.path() + ":" + savedPath_).c_str(), 1);

    owner_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(owner_), "TALVEK");
    gtk_window_set_default_size(GTK_WINDOW(owner_), 600, 400);
    gtk_widget_show_all(owner_);
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(owner_); }));
    testing::WriteTextFile(files_.Join("report.txt"), "the report");
  }
  void TearDown() override {
    if (owner_ != nullptr) gtk_widget_destroy(owner_);
    InstallSaveDialog(nullptr);
    if (!savedPath_.empty()) setenv("PATH", savedPath_.c_str(), 1);
    PumpFor(50ms);
  }

  SharePayload Payload(bool withFile) {
    SharePayload payload;
    payload.title = "TALVEK";
    payload.text = "look";
    payload.url = "https://example.com/a";
    if (withFile) {
      payload.filePath = files_.Join("report.txt");
      payload.file = std::make_shared<const UniqueFd>(::open(payload.filePath->c_str(), O_RDONLY | O_CLOEXEC));
    }
    return payload;
  }

  // Shows a sheet for `payload`; its end lands in end_.
  std::shared_ptr<ShareSheetHandle> Show(const SharePayload& payload) {
    end_.reset();
    auto handle = MakeGtkShareSheet(owner_)(payload, [this](ShareSheetEnd end) {
      EXPECT_FALSE(end_.has_value()) << "one end per sheet";
      end_ = end;
    });
    EXPECT_TRUE(PumpUntil([] { return ShownSheet() != nullptr; }));
    return handle;
  }

  testing::TempDir bin_, files_;
  std::string savedPath_;
  GtkWidget* owner_ = nullptr;
  std::optional<ShareSheetEnd> end_;
};

TEST_F(GtkShareSheetTest, CopyPutsTheTextAndLinkOnTheClipboardOverTheMainWindow) {
  auto handle = Show(Payload(false));
  ASSERT_NE(handle, nullptr);
  GtkWindow* sheet = ShownSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(gtk_window_get_transient_for(sheet), GTK_WINDOW(owner_));
  EXPECT_TRUE(gtk_window_get_modal(sheet));
  EXPECT_EQ(TargetLabels(sheet), (std::vector<std::string>{"Email", "Open with\u2026", "Copy"}));
  // The keyboard starts on the first target.
  GtkListBoxRow* selected = gtk_list_box_get_selected_row(TargetList(sheet));
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(gtk_list_box_row_get_index(selected), 0);

  Pick(sheet, "Copy");
  EXPECT_EQ(end_, ShareSheetEnd::Chosen);
  EXPECT_TRUE(PumpUntil([] { return ShownSheet() == nullptr; }));
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gchar* text = gtk_clipboard_wait_for_text(clipboard);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "look\nhttps://example.com/a");
  g_free(text);
  handle->Close();  // after the end: nothing happens
  EXPECT_EQ(end_, ShareSheetEnd::Chosen);
}

TEST_F(GtkShareSheetTest, AFileIsCopiedForFileManagersAndSavedWhereTheUserSays) {
  auto handle = Show(Payload(true));
  GtkWindow* sheet = ShownSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(TargetLabels(sheet), (std::vector<std::string>{"Email", "Open with\u2026", "Copy", "Save as\u2026"}));
  Pick(sheet, "Copy");
  const std::string uri = "file://" + files_.Join("report.txt");
  EXPECT_EQ(ClipboardTarget("text/uri-list"), uri + "\r\n");
  EXPECT_EQ(ClipboardTarget("x-special/gnome-copied-files"), "copy\n" + uri);
  EXPECT_EQ(ClipboardTarget("UTF8_STRING"), "look\nhttps://example.com/a");

  // "Save as…": the save dialog's answer gets a copy of the open file, even
  // once the name is gone.
  std::string suggested;
  InstallSaveDialog([&](const std::string& name, SaveDialogDone done) {
    suggested = name;
    done(PickOutcome::Chosen, files_.Join("saved.txt"));
  });
  handle = Show(Payload(true));
  fs::remove(files_.Join("report.txt"));
  Pick(ShownSheet(), "Save as\u2026");
  EXPECT_EQ(end_, ShareSheetEnd::Chosen);
  EXPECT_EQ(suggested, "report.txt");
  EXPECT_TRUE(PumpUntil([&] { return fs::exists(files_.Join("saved.txt")); }));
  EXPECT_EQ(testing::ReadTextFile(files_.Join("saved.txt")), "the report");
}

TEST_F(GtkShareSheetTest, EmailFallsBackToXdgEmailWithSubjectBodyAndAttachment) {
  Show(Payload(true));
  Pick(ShownSheet(), "Email");
  EXPECT_EQ(end_, ShareSheetEnd::Chosen);
  // No portal on the test bus: the call fails and xdg-email takes over.
  ASSERT_TRUE(PumpUntil([&] { return fs::exists(bin_.Join("mail.args")); }));
  EXPECT_EQ(testing::ReadTextFile(bin_.Join("mail.args")),
            "--utf8\n--subject\nTALVEK\n--body\nlook\nhttps://example.com/a\n--attach\n" + files_.Join("report.txt") + "\n");
}

TEST_F(GtkShareSheetTest, OpenWithAsksForTheApplicationOverTheMainWindow) {
  Show(Payload(true));
  Pick(ShownSheet(), "Open with\u2026");
  EXPECT_EQ(end_, ShareSheetEnd::Chosen);
  GtkWindow* chooser = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
      if (GTK_IS_APP_CHOOSER_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
        chooser = GTK_WINDOW(item->data);
      }
    }
    g_list_free(windows);
    return chooser != nullptr;
  }));
  EXPECT_EQ(gtk_window_get_transient_for(chooser), GTK_WINDOW(owner_));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);  // nothing launched, nothing else happens
  EXPECT_TRUE(PumpUntil([&] {
    GList* windows = gtk_window_list_toplevels();
    bool open = false;
    for (GList* item = windows; item != nullptr; item = item->next) open |= GTK_IS_APP_CHOOSER_DIALOG(item->data);
    g_list_free(windows);
    return !open;
  }));
}

TEST_F(GtkShareSheetTest, EscapeCancelAndAHiddenMainWindowDismissCloseDoesNotReport) {
  Show(Payload(false));
  PressEscape(ShownSheet());
  EXPECT_EQ(end_, ShareSheetEnd::Dismissed);
  EXPECT_TRUE(PumpUntil([] { return ShownSheet() == nullptr; }));

  Show(Payload(false));
  GtkWidget* cancel = FindWidget(GTK_WIDGET(ShownSheet()), [](GtkWidget* widget) { return GTK_IS_BUTTON(widget); });
  ASSERT_NE(cancel, nullptr);
  gtk_button_clicked(GTK_BUTTON(cancel));
  EXPECT_EQ(end_, ShareSheetEnd::Dismissed);

  Show(Payload(false));
  gtk_widget_hide(owner_);  // closed to the tray
  EXPECT_EQ(end_, ShareSheetEnd::Dismissed);
  EXPECT_TRUE(PumpUntil([] { return ShownSheet() == nullptr; }));
  // Over a hidden window no sheet shows at all.
  EXPECT_EQ(MakeGtkShareSheet(owner_)(Payload(false), [](ShareSheetEnd) { ADD_FAILURE() << "no sheet, no end"; }),
            nullptr);

  gtk_widget_show(owner_);
  auto handle = Show(Payload(false));
  handle->Close();
  EXPECT_TRUE(PumpUntil([] { return ShownSheet() == nullptr; }));
  EXPECT_FALSE(end_.has_value()) << "the request ended elsewhere; the sheet reports nothing";
  handle->Close();
}

}  // namespace
}  // namespace VirelantDesktop::platform
