// A window to drag from, for the desktop tests: its one button is a drag
// source offering the URIs given on the command line as text/uri-list, or
// with "--text" plain text only. It prints "ready X Y" (the button's centre
// on the screen) once shown, and "done" when a drag ended.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_uris;
bool g_text = false;

void OnGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
  if (g_text) {
    gtk_selection_data_set_text(data, "just some text", -1);
    return;
  }
  std::vector<gchar*> uris;
  for (auto& uri : g_uris) uris.push_back(uri.data());
  uris.push_back(nullptr);
  gtk_selection_data_set_uris(data, uris.data());
}

void OnEnd(GtkWidget*, GdkDragContext*, gpointer) {
  std::printf("done\n");
  std::fflush(stdout);
}

gboolean Announce(gpointer data) {
  auto* button = static_cast<GtkWidget*>(data);
  GdkWindow* window = gtk_widget_get_window(gtk_widget_get_toplevel(button));
  if (window == nullptr || !gtk_widget_get_mapped(button)) return G_SOURCE_CONTINUE;
  int x = 0, y = 0, inTopX = 0, inTopY = 0;
  gdk_window_get_origin(window, &x, &y);
  GtkAllocation allocation;
  gtk_widget_get_allocation(button, &allocation);
  gtk_widget_translate_coordinates(button, gtk_widget_get_toplevel(button), allocation.width / 2, allocation.height / 2,
                                   &inTopX, &inTopY);
  std::printf("ready %d %d\n", x + inTopX, y + inTopY);
  std::fflush(stdout);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--text") == 0) {
      g_text = true;
    } else {
      g_uris.emplace_back(argv[i]);
    }
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "drag source");
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  GtkWidget* button = gtk_button_new_with_label("drag me");
  gtk_widget_set_size_request(button, 120, 60);
  gtk_container_add(GTK_CONTAINER(window), button);
  GtkTargetList* targets = gtk_target_list_new(nullptr, 0);
  if (g_text) {
    gtk_target_list_add_text_targets(targets, 0);
  } else {
    gtk_target_list_add_uri_targets(targets, 0);
  }
  gtk_drag_source_set(button, GDK_BUTTON1_MASK, nullptr, 0, static_cast<GdkDragAction>(GDK_ACTION_COPY | GDK_ACTION_LINK));
  gtk_drag_source_set_target_list(button, targets);
  gtk_target_list_unref(targets);
  g_signal_connect(button, "drag-data-get", G_CALLBACK(OnGet), nullptr);
  g_signal_connect(button, "drag-end", G_CALLBACK(OnEnd), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  g_timeout_add(50, Announce, button);
  gtk_main();
  return 0;
}
