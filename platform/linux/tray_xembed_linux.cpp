// The tray icon for XEmbed system trays (GtkStatusIcon, deprecated in GTK 3
// but the only way into those trays).
#include <gtk/gtk.h>

#include "platform/gtk_desktop.h"

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace VirelantDesktop::platform {
namespace {

class XEmbedTray final : public Tray {
 public:
  XEmbedTray(TrayOptions options, TrayEvents events) : options_(std::move(options)), events_(std::move(events)) {}
  ~XEmbedTray() override { Remove(); }

  bool Add() override {
    if (icon_ == nullptr) {
      icon_ = gtk_status_icon_new();
      // The tray asks for a size; the nearest file of at least that size wins.
      g_signal_connect(icon_, "size-changed", G_CALLBACK(OnSizeChanged), this);
      g_signal_connect(icon_, "activate", G_CALLBACK(OnActivate), this);
      g_signal_connect(icon_, "popup-menu", G_CALLBACK(OnPopupMenu), this);
      gtk_status_icon_set_title(icon_, options_.title.c_str());
      gtk_status_icon_set_tooltip_text(icon_, options_.title.c_str());
      LoadIcon(24);
    }
    gtk_status_icon_set_visible(icon_, TRUE);
    return true;
  }

  void Remove() override {
    if (icon_ == nullptr) return;
    g_signal_handlers_disconnect_by_data(icon_, this);
    gtk_status_icon_set_visible(icon_, FALSE);
    g_object_unref(icon_);
    icon_ = nullptr;
  }

 private:
  void LoadIcon(int size) {
    GdkPixbuf* best = nullptr;
    for (const auto& file : options_.iconFiles) {
      GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
      if (pixbuf == nullptr) continue;
      const int width = gdk_pixbuf_get_width(pixbuf);
      const bool better = best == nullptr ||
                          (width >= size && (gdk_pixbuf_get_width(best) < size || width < gdk_pixbuf_get_width(best))) ||
                          (gdk_pixbuf_get_width(best) < size && width > gdk_pixbuf_get_width(best));
      if (better) {
        if (best != nullptr) g_object_unref(best);
        best = pixbuf;
      } else {
        g_object_unref(pixbuf);
      }
    }
    if (best == nullptr) return;
    gtk_status_icon_set_from_pixbuf(icon_, best);
    g_object_unref(best);
  }

  static gboolean OnSizeChanged(GtkStatusIcon*, gint size, gpointer data) {
    static_cast<XEmbedTray*>(data)->LoadIcon(size);
    return TRUE;
  }

  static void OnActivate(GtkStatusIcon*, gpointer data) {
    auto* self = static_cast<XEmbedTray*>(data);
    try {
      if (self->events_.activated) self->events_.activated();
    } catch (...) {
    }
  }

  static void OnPopupMenu(GtkStatusIcon*, guint, guint, gpointer data) {
    auto* self = static_cast<XEmbedTray*>(data);
    try {
      if (self->events_.menuRequested) self->events_.menuRequested();
    } catch (...) {
    }
  }

  TrayOptions options_;
  TrayEvents events_;
  GtkStatusIcon* icon_ = nullptr;
};

}  // namespace

std::unique_ptr<Tray> MakeXEmbedTray(TrayOptions options, TrayEvents events) {
  return std::make_unique<XEmbedTray>(std::move(options), std::move(events));
}

}  // namespace VirelantDesktop::platform

G_GNUC_END_IGNORE_DEPRECATIONS
