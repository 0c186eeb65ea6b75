// A clipboard owner for the desktop tests. "text-and-image": offers text and
// a PNG at once. "silent": offers a PNG but never answers a request for it
// (a program that hangs). Prints "owning" once it holds the clipboard.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool g_silent = false;

void OnGet(GtkClipboard*, GtkSelectionData* data, guint info, gpointer) {
  if (g_silent) {
    for (;;) pause();  // never answers
  }
  if (info == 0) {
    gtk_selection_data_set_text(data, "words", -1);
    return;
  }
  static const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};  // enough to be offered
  gtk_selection_data_set(data, gdk_atom_intern_static_string("image/png"), 8, kPng, sizeof kPng);
}

void OnClear(GtkClipboard*, gpointer) { gtk_main_quit(); }

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  g_silent = argc > 1 && std::strcmp(argv[1], "silent") == 0;
  GtkTargetEntry targets[] = {{const_cast<gchar*>("UTF8_STRING"), 0, 0}, {const_cast<gchar*>("image/png"), 0, 1}};
  GtkTargetEntry* offered = g_silent ? &targets[1] : &targets[0];
  const guint count = g_silent ? 1 : 2;
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!gtk_clipboard_set_with_data(clipboard, offered, count, OnGet, OnClear, nullptr)) return 1;
  std::printf("owning\n");
  std::fflush(stdout);
  gtk_main();
  return 0;
}
