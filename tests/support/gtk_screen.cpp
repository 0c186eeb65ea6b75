#include "tests/support/gtk_screen.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <thread>

namespace VirelantDesktop::testing {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void PumpFor(std::chrono::milliseconds time) { PumpUntil([] { return false; }, time); }

uint32_t ScreenPixel(void* widget, int x, int y) {
  GtkWidget* self = GTK_WIDGET(widget);
  GtkWidget* top = gtk_widget_get_toplevel(self);
  int originX = 0, originY = 0, inTopX = 0, inTopY = 0;
  gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
  gtk_widget_translate_coordinates(self, top, x, y, &inTopX, &inTopY);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), originX + inTopX, originY + inTopY, 1, 1);
  if (pixbuf == nullptr) return 0xdeadbeef;
  const guchar* p = gdk_pixbuf_get_pixels(pixbuf);
  const uint32_t rgb = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  g_object_unref(pixbuf);
  return rgb;
}

void SaveWindowScreenshot(void* widget, const std::string& folder, const std::string& name) {
  std::filesystem::create_directories(folder);
  GdkWindow* window = gtk_widget_get_window(gtk_widget_get_toplevel(GTK_WIDGET(widget)));
  int x = 0, y = 0;
  gdk_window_get_origin(window, &x, &y);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, gdk_window_get_width(window),
                                                 gdk_window_get_height(window));
  if (pixbuf == nullptr) return;
  gdk_pixbuf_save(pixbuf, (folder + "/" + name).c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
}

}  // namespace VirelantDesktop::testing
