// The main window on GTK 3.
//
// GTK measures in application pixels, which the monitor's integer scale
// factor turns into device pixels; this backend speaks device pixels to the
// shell (DPI = 96 x scale) and converts at the edge. The title bar is a
// client-side header bar: a strip 32 logical pixels high that drags the
// window and holds the caption buttons, recoloured through CSS. A fixed size
// is expressed with equal minimum and maximum geometry hints (a GTK window
// made non-resizable would shrink to its natural size and ignore the hints).
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "platform/gtk_desktop.h"

namespace VirelantDesktop::platform {
namespace {

constexpr const char* kCaptionClass = "talvek-caption";
constexpr const char* kLayoutResizable = ":minimize,maximize,close";
constexpr const char* kLayoutFixed = ":minimize,close";

std::string Rgba(const Argb& c) {
  char text[64];
  std::snprintf(text, sizeof text, "rgba(%u,%u,%u,%.4f)", c.r, c.g, c.b, c.a / 255.0);
  return text;
}

// Calls an event handler from a GTK callback: nothing may unwind into C.
template <class F, class... Args>
auto Safely(const F& handler, Args... args) noexcept -> decltype(handler(args...)) {
  using Result = decltype(handler(args...));
  try {
    if (handler) return handler(args...);
  } catch (...) {
  }
  return Result();
}

class GtkMainWindow final : public MainWindow {
 public:
  void* NativeHandle() const override { return window_; }
  void* ContentHandle() const override { return content_; }
  explicit GtkMainWindow(MainWindowEvents events) : events_(std::move(events)) {
    window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(window_);
    content_ = gtk_event_box_new();
    gtk_widget_set_name(content_, "talvek-page");
    gtk_container_add(GTK_CONTAINER(window_), content_);
    gtk_widget_show(content_);
    css_ = gtk_css_provider_new();
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(GTK_WIDGET(window_)), GTK_STYLE_PROVIDER(css_),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "map", G_CALLBACK(OnMap), this);
    g_signal_connect(window_, "map-event", G_CALLBACK(OnMapEvent), this);
    g_signal_connect(window_, "unmap", G_CALLBACK(OnUnmap), this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(OnWindowState), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigure), this);
    g_signal_connect(window_, "notify::scale-factor", G_CALLBACK(OnScale), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
  }

  ~GtkMainWindow() override {
    // A measurement still queued would find this object gone.
    if (configurePending_ != 0) g_source_remove(configurePending_);
    if (window_ != nullptr) {
      g_signal_handlers_disconnect_by_data(window_, this);
      if (!destroyed_) gtk_widget_destroy(GTK_WIDGET(window_));
      g_object_unref(window_);
    }
    if (css_ != nullptr) {
      gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_));
      g_object_unref(css_);
    }
  }

  void SetTitle(const std::string& title) override {
    title_ = title;
    if (Alive()) gtk_window_set_title(window_, title.c_str());
  }

  void SetIcons(const std::vector<std::string>& pngFiles) override {
    if (!Alive()) return;
    GList* icons = nullptr;
    for (const auto& file : pngFiles) {
      if (GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(file.c_str(), nullptr)) icons = g_list_append(icons, pixbuf);
    }
    if (icons != nullptr) gtk_window_set_icon_list(window_, icons);
    g_list_free_full(icons, g_object_unref);
  }

  void Show() override {
    if (!Alive()) return;
    ReturnToPlace();
    gtk_widget_show(GTK_WIDGET(window_));
  }

  void ShowAndActivate() override {
    if (!Alive()) return;
    if (IsMinimized()) gtk_window_deiconify(window_);
    ReturnToPlace();
    gtk_widget_show(GTK_WIDGET(window_));
    // A current server timestamp, so the window manager's focus-stealing
    // rule lets the window come forward.
    guint32 timestamp = GDK_CURRENT_TIME;
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_));
    if (gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow)) timestamp = gdk_x11_get_server_time(gdkWindow);
    gtk_window_present_with_time(window_, timestamp);
  }

  void Hide() override {
    if (!Alive()) return;
    RememberPlace();
    gtk_widget_hide(GTK_WIDGET(window_));
  }

  void Close() override {
    if (Alive()) gtk_widget_destroy(GTK_WIDGET(window_));
  }

  void Unmaximize() override {
    if (Alive()) gtk_window_unmaximize(window_);
  }

  void Restore() override {
    if (!Alive()) return;
    gtk_window_deiconify(window_);
    gtk_window_unmaximize(window_);
  }

  bool IsVisible() const override { return Alive() && gtk_widget_get_visible(GTK_WIDGET(window_)); }
  bool IsMinimized() const override { return (state_ & GDK_WINDOW_STATE_ICONIFIED) != 0; }
  bool IsMaximized() const override { return (state_ & GDK_WINDOW_STATE_MAXIMIZED) != 0; }

  int Dpi() const override { return 96 * Scale(); }

  std::optional<PixelSize> ClientSize() const override {
    if (!Alive()) return std::nullopt;
    int width = 0, height = 0;
    gtk_window_get_size(window_, &width, &height);
    return PixelSize{width * Scale(), height * Scale()};
  }

  std::optional<PixelRect> WindowRect() const override {
    if (!Alive()) return std::nullopt;
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_));
    if (gdkWindow == nullptr || !placed_) {
      // Never shown: the requested size with the decorations GTK draws
      // around it, at the place GTK would ask for (a guess: the window
      // manager places the window when it first shows).
      int x = 0, y = 0, width = 0, height = 0;
      gtk_window_get_position(window_, &x, &y);
      gtk_window_get_size(window_, &width, &height);
      return Device({x - moveOffset_.x, y - moveOffset_.y, width + decorations_.width, height + decorations_.height});
    }
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdkWindow, &frame);
    return Device({frame.x, frame.y, frame.width, frame.height});
  }

  bool IsPlaced() const override { return placed_; }

  std::optional<PixelRect> NormalRect() const override {
    if (normal_) return normal_;
    return WindowRect();
  }

  std::optional<PixelRect> WorkArea() const override {
    if (!Alive()) return std::nullopt;
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_));
    // A window never shown has no monitor of its own yet: it opens on the
    // primary one.
    GdkMonitor* monitor = gdkWindow != nullptr && placed_ ? gdk_display_get_monitor_at_window(display, gdkWindow)
                                                          : gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return std::nullopt;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return Device({area.x, area.y, area.width, area.height});
  }

  PixelSize FrameExtraEstimate() const override {
    const auto client = ClientSize();
    const auto outer = WindowRect();
    if (!client || !outer) return {};
    return {std::max(0, outer->width - client->width), std::max(0, outer->height - client->height)};
  }

  void SetWindowSize(PixelSize outer) override {
    if (!Alive()) return;
    RealizeForMeasuring();
    const PixelSize frame = FrameExtraEstimate();
    Resize(outer.width - frame.width, outer.height - frame.height);
  }

  void SetWindowRect(PixelRect outer) override {
    if (!Alive()) return;
    RealizeForMeasuring();
    const int scale = Scale();
    gtk_window_move(window_, outer.x / scale + moveOffset_.x, outer.y / scale + moveOffset_.y);
    // Moved while hidden: this place, not the one it was hidden at, is
    // where it shows again.
    if (!gtk_widget_get_visible(GTK_WIDGET(window_))) place_.reset();
    SetWindowSize({outer.width, outer.height});
  }

  void ResizeClient(PixelSize client) override {
    if (!Alive()) return;
    RealizeForMeasuring();
    Resize(client.width, client.height);
  }

  void SetResizable(bool resizable) override {
    resizable_ = resizable;
    if (header_ != nullptr) {
      gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header_), resizable ? kLayoutResizable : kLayoutFixed);
    }
  }

  void SetSizeLimits(const SizeLimits& limits) override {
    if (!Alive()) return;
    // The hints bound the toplevel's own X window, which holds the
    // client-side title bar and borders; only a frame the window manager
    // draws around it is taken off.
    const int scale = Scale();
    const PixelSize frame = ManagerFrame();
    GdkGeometry geometry{};
    geometry.min_width = std::max(1, (limits.minimum.width - frame.width) / scale);
    geometry.min_height = std::max(1, (limits.minimum.height - frame.height) / scale);
    geometry.max_width = limits.maximumWidth ? std::max(1, (*limits.maximumWidth - frame.width) / scale) : G_MAXSHORT;
    geometry.max_height =
        limits.maximumHeight ? std::max(1, (*limits.maximumHeight - frame.height) / scale) : G_MAXSHORT;
    // Pushed after every move and resize: only a change goes to the server.
    if (hints_ && hints_->min_width == geometry.min_width && hints_->min_height == geometry.min_height &&
        hints_->max_width == geometry.max_width && hints_->max_height == geometry.max_height) {
      return;
    }
    hints_ = geometry;
    gtk_window_set_geometry_hints(window_, nullptr, &geometry,
                                  static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
  }

  bool SupportsCustomTitleBar() const override { return true; }

  void ExtendIntoTitleBar(bool extend) override {
    // The header bar stays once made: a realised GTK window cannot change
    // between client-side and system decorations.
    if (!extend || header_ != nullptr || !Alive()) return;
    if (gtk_widget_get_realized(GTK_WIDGET(window_))) return;
    header_ = gtk_header_bar_new();
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header_), TRUE);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header_), resizable_ ? kLayoutResizable : kLayoutFixed);
    gtk_style_context_add_class(gtk_widget_get_style_context(header_), kCaptionClass);
    gtk_window_set_titlebar(window_, header_);
    gtk_widget_show(header_);
    // Setting a title bar forgets the title.
    gtk_window_set_title(window_, title_.c_str());
  }

  void SetCaptionColors(const CaptionColors& colors) override {
    colors_ = colors;
    ApplyCss();
  }

  std::pair<int, int> CaptionInsets() const override { return {0, 0}; }

  void SetDragStrip(const PixelRect& strip) override {
    if (stripHeight_ == strip.height) return;
    stripHeight_ = strip.height;
    ApplyCss();
  }

  void PopupMenu(const std::vector<TrayMenuEntry>& entries, std::function<void(int)> chosen) override {
    if (!Alive()) return;
    GtkWidget* menu = gtk_menu_new();
    auto* handler = new std::function<void(int)>(std::move(chosen));
    g_object_set_data_full(G_OBJECT(menu), "talvek-chosen", handler,
                           [](gpointer data) { delete static_cast<std::function<void(int)>*>(data); });
    for (const auto& entry : entries) {
      GtkWidget* item = gtk_menu_item_new_with_label(entry.label.c_str());
      g_object_set_data(G_OBJECT(item), "talvek-command", GINT_TO_POINTER(entry.command));
      g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* menuItem, gpointer data) {
                         const int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(menuItem), "talvek-command"));
                         Safely(*static_cast<std::function<void(int)>*>(data), command);
                       }),
                       handler);
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    gtk_widget_show_all(menu);
    // The menu lives until it closes (after the item's activation).
    g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, gpointer) {
                       g_idle_add(
                           [](gpointer widget) -> gboolean {
                             gtk_widget_destroy(GTK_WIDGET(widget));
                             return G_SOURCE_REMOVE;
                           },
                           shell);
                     }),
                     nullptr);
    gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(window_), nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
  }

 private:
  bool Alive() const { return window_ != nullptr && !destroyed_; }
  int Scale() const { return Alive() ? std::max(1, gtk_widget_get_scale_factor(GTK_WIDGET(window_))) : 1; }

  PixelRect Device(PixelRect rect) const {
    const int scale = Scale();
    return {rect.x * scale, rect.y * scale, rect.width * scale, rect.height * scale};
  }

  // The decorations the window manager adds around the toplevel (none for a
  // window with a client-side title bar), device pixels.
  PixelSize ManagerFrame() const {
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_));
    if (gdkWindow == nullptr) return {};
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdkWindow, &frame);
    const int scale = Scale();
    return {std::max(0, frame.width - gdk_window_get_width(gdkWindow)) * scale,
            std::max(0, frame.height - gdk_window_get_height(gdkWindow)) * scale};
  }

  // A window sized before it first shows is realised, so that the client-
  // side title bar and borders GTK draws around its client size are known
  // (and a window that has to fit a small work area fits it with them),
  // rather than taken for nothing. The title bar must be in place by then.
  void RealizeForMeasuring() {
    if (gtk_widget_get_realized(GTK_WIDGET(window_))) return;
    gtk_widget_realize(GTK_WIDGET(window_));
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_));
    if (gdkWindow == nullptr) return;
    // Both from the same request: the toplevel's own window holds the
    // decorations, the window's size leaves them out, and its position
    // leaves out the invisible border around them.
    int width = 0, height = 0;
    gtk_window_get_size(window_, &width, &height);
    decorations_ = {std::max(0, gdk_window_get_width(gdkWindow) - width),
                    std::max(0, gdk_window_get_height(gdkWindow) - height)};
    int x = 0, y = 0;
    gtk_window_get_position(window_, &x, &y);
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdkWindow, &frame);
    moveOffset_ = {x - frame.x, y - frame.y};
  }

  // GTK forgets where a hidden window was: mapped again, it is placed by
  // the window manager like a new one. The shell's window lives in the
  // tray, so it is put back where it was hidden (its size GTK keeps). The
  // place is taken while the window is in its normal state, so a window
  // hidden maximised comes back maximised and unmaximises to it.
  void RememberPlace() {
    if (!gtk_widget_get_mapped(GTK_WIDGET(window_)) || IsMaximized() || IsMinimized()) return;
    GdkPoint point{};
    gtk_window_get_position(window_, &point.x, &point.y);
    place_ = point;
  }

  void ReturnToPlace() {
    if (!place_ || gtk_widget_get_visible(GTK_WIDGET(window_))) return;
    gtk_window_move(window_, place_->x, place_->y);
  }

  void Resize(int deviceWidth, int deviceHeight) {
    const int scale = Scale();
    gtk_window_resize(window_, std::max(1, deviceWidth / scale), std::max(1, deviceHeight / scale));
  }

  void ApplyCss() {
    const int height = std::max(1, stripHeight_ / Scale());
    std::string css = "#talvek-page { background-color: #101014; }\n";
    css += std::string("headerbar.") + kCaptionClass + " { min-height: " + std::to_string(height) +
           "px; padding: 0 0 0 6px; margin: 0; border: none; box-shadow: none; background: #101014; }\n";
    if (colors_) {
      const std::string button = std::string("headerbar.") + kCaptionClass + " button.titlebutton";
      const std::string backdrop = std::string("headerbar.") + kCaptionClass + ":backdrop button.titlebutton";
      css += button + " { min-height: 0; padding: 2px 8px; border: none; box-shadow: none; background: " +
             Rgba(colors_->background) + "; color: " + Rgba(colors_->foreground) + "; }\n";
      css += backdrop + " { background: " + Rgba(colors_->inactiveBackground) +
             "; color: " + Rgba(colors_->inactiveForeground) + "; }\n";
      css += button + ":hover { background: " + Rgba(colors_->hoverBackground) +
             "; color: " + Rgba(colors_->hoverForeground) + "; }\n";
      css += button + ":active { background: " + Rgba(colors_->pressedBackground) +
             "; color: " + Rgba(colors_->pressedForeground) + "; }\n";
    }
    gtk_css_provider_load_from_data(css_, css.c_str(), -1, nullptr);
  }

  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    return Safely(self->events_.closeRequested) ? TRUE : FALSE;
  }

  static void OnMap(GtkWidget*, gpointer data) { Safely(static_cast<GtkMainWindow*>(data)->events_.shownChanged, true); }

  static void OnUnmap(GtkWidget*, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (!self->destroyed_) Safely(self->events_.shownChanged, false);
  }

  static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    const auto relevant = static_cast<GdkWindowState>(GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED);
    const bool changed = (self->state_ & relevant) != (event->new_window_state & relevant);
    self->state_ = event->new_window_state;
    if (changed) Safely(self->events_.stateChanged, self->IsMinimized(), self->IsMaximized());
    return FALSE;
  }

  // The window is on the screen: the window manager has placed it.
  static gboolean OnMapEvent(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (!self->placed_) {
      self->placed_ = true;
      self->ReportGeometry();
    }
    return FALSE;
  }

  static gboolean OnConfigure(GtkWidget*, GdkEventConfigure*, gpointer data) {
    static_cast<GtkMainWindow*>(data)->ReportGeometry();
    return FALSE;
  }

  void ReportGeometry() {
    // A resize by mouse sends a stream of configure events: measure and
    // report once, after GTK took in the new size.
    if (configurePending_ == 0) {
      configurePending_ = g_idle_add(
          [](gpointer selfData) -> gboolean {
            auto* window = static_cast<GtkMainWindow*>(selfData);
            window->configurePending_ = 0;
            if (!window->Alive()) return G_SOURCE_REMOVE;
            if (!window->IsMaximized() && !window->IsMinimized()) window->normal_ = window->WindowRect();
            window->RememberPlace();
            Safely(window->events_.geometryChanged);
            return G_SOURCE_REMOVE;
          },
          this);
    }
  }

  static void OnScale(GObject*, GParamSpec*, gpointer data) {
    Safely(static_cast<GtkMainWindow*>(data)->events_.dpiChanged);
  }

  static void OnDestroy(GtkWidget*, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (self->destroyed_) return;
    self->destroyed_ = true;
    if (self->configurePending_ != 0) g_source_remove(self->configurePending_);
    self->configurePending_ = 0;
    Safely(self->events_.destroyed);
  }

  MainWindowEvents events_;
  std::string title_;
  GtkWindow* window_ = nullptr;
  GtkWidget* content_ = nullptr;
  GtkWidget* header_ = nullptr;
  GtkCssProvider* css_ = nullptr;
  GdkWindowState state_ = static_cast<GdkWindowState>(0);
  std::optional<PixelRect> normal_;
  PixelSize decorations_;  // drawn by GTK around the client size (title bar, borders), GTK units
  // gtk_window_move's position minus the toplevel's own (GTK leaves the
  // invisible border of a client-side decorated window out), GTK units.
  GdkPoint moveOffset_{};
  std::optional<GdkPoint> place_;  // where the window was last seen in its normal state, GTK units
  std::optional<GdkGeometry> hints_;
  std::optional<CaptionColors> colors_;
  int stripHeight_ = 32;
  bool resizable_ = true;
  bool destroyed_ = false;
  bool placed_ = false;  // mapped once: the window manager gave it its place
  guint configurePending_ = 0;
};

}  // namespace

GtkStart InitGtk() {
  const char* display = g_getenv("DISPLAY");
  const char* wayland = g_getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) {
    return GtkStart::NoDisplay;
  }
  g_set_prgname("talvek");
  return gtk_init_check(nullptr, nullptr) != FALSE ? GtkStart::Ready : GtkStart::OpenFailed;
}

std::unique_ptr<MainWindow> MakeGtkWindow(MainWindowEvents events) {
  return std::make_unique<GtkMainWindow>(std::move(events));
}

}  // namespace VirelantDesktop::platform
