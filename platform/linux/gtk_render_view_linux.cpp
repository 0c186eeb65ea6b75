// The main window's drawn surface on GTK 3: one drawing area, the mounted
// tree painted with cairo and Pango, damaged areas only.
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/cairo_canvas.h"
#include "platform/image_loader.h"
#include "platform/render_view.h"
#include "render/components/tree_painter.h"
#include "render/mounted_tree.h"
#include "render/native_views.h"
#include "render/scroll_input.h"
#include "render/touch_events.h"

namespace VirelantDesktop::platform {
namespace {

using render::Tag;

// Work other threads hand to the UI thread: commits, decoded images and
// the tasks that must follow the commits queued before them (commands,
// component events). The mutex carries the data; GLib only wakes the UI
// thread.
class UiInbox {
 public:
  explicit UiInbox(std::function<void()> drain) : drain_(std::move(drain)) {}
  ~UiInbox() { Close(); }

  // Later posts are dropped (the view is going away). UI thread.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (idle_ != 0) g_source_remove(idle_);
    idle_ = 0;
    commits_.clear();
    images_.clear();
    tasks_.clear();
  }

  void PostCommit(render::MountTransaction transaction) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    commits_.push_back(std::move(transaction));
    WakeLocked();
  }
  void PostImage(LoadedImage image) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    images_.push_back(std::move(image));
    WakeLocked();
  }
  // Runs after the commits posted before it.
  void PostTask(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    tasks_.emplace_back(commits_.size(), std::move(task));
    WakeLocked();
  }
  using Task = std::pair<size_t, std::function<void()>>;  // commits before it, the work
  void Take(std::deque<render::MountTransaction>& commits, std::deque<LoadedImage>& images, std::deque<Task>& tasks) {
    std::lock_guard lock(mutex_);
    commits.swap(commits_);
    images.swap(images_);
    tasks.swap(tasks_);
    idle_ = 0;
  }

 private:
  void WakeLocked() {
    if (closed_ || idle_ != 0) return;
    idle_ = g_idle_add_full(G_PRIORITY_HIGH_IDLE + 10, &UiInbox::OnIdle, this, nullptr);
  }
  static gboolean OnIdle(gpointer data) {
    static_cast<UiInbox*>(data)->drain_();
    return G_SOURCE_REMOVE;
  }

  std::function<void()> drain_;
  std::mutex mutex_;  // guards commits_, images_, tasks_ and idle_
  std::deque<render::MountTransaction> commits_;
  std::deque<LoadedImage> images_;
  std::deque<Task> tasks_;
  guint idle_ = 0;
  bool closed_ = false;
};

// Native component views live in containers on a fixed layer above the
// drawing; the layer lets input through wherever no widget is.
class NativeLayer final : public render::NativeViewSurface {
 public:
  explicit NativeLayer(GtkWidget* fixed) : fixed_(fixed) {}

  void* CreateParent(Tag tag) override {
    GtkWidget* box = gtk_event_box_new();
    // Input-only: with a window of its own that draws, the box took the
    // clicks meant for the component's widget (the layer above lets input through).
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
    gtk_widget_set_name(box, ("talvek-native-" + std::to_string(tag)).c_str());
    gtk_widget_set_size_request(box, 0, 0);
    gtk_fixed_put(GTK_FIXED(fixed_), box, 0, 0);
    return box;
  }

  void PlaceParent(void* parent, const render::Rect& frame, bool visible) override {
    auto* box = static_cast<GtkWidget*>(parent);
    const int x = static_cast<int>(std::lround(frame.x));
    const int y = static_cast<int>(std::lround(frame.y));
    const int right = static_cast<int>(std::lround(frame.x + frame.width));
    const int bottom = static_cast<int>(std::lround(frame.y + frame.height));
    gtk_fixed_move(GTK_FIXED(fixed_), box, x, y);
    gtk_widget_set_size_request(box, std::max(0, right - x), std::max(0, bottom - y));
    gtk_widget_set_visible(box, visible && right > x && bottom > y);
  }

  void DestroyParent(void* parent) override { gtk_widget_destroy(static_cast<GtkWidget*>(parent)); }

 private:
  GtkWidget* fixed_;
};

class GtkRenderView final : public RenderView {
 public:
  GtkRenderView(GtkContainer* container, Tag rootTag, RenderViewEvents events, ViewComponentMap components)
      : rootTag_(rootTag), events_(std::move(events)), touches_(rootTag), hover_(rootTag),
        inbox_(std::make_shared<UiInbox>([this] { Drain(); })) {
    overlay_ = gtk_overlay_new();
    gtk_widget_set_name(overlay_, "talvek-render");
    gtk_widget_set_hexpand(overlay_, TRUE);
    gtk_widget_set_vexpand(overlay_, TRUE);
    layer_ = gtk_fixed_new();
    gtk_widget_set_name(layer_, "talvek-native-layer");
    gtk_widget_set_halign(layer_, GTK_ALIGN_FILL);
    gtk_widget_set_valign(layer_, GTK_ALIGN_FILL);
    nativeLayer_ = std::make_unique<NativeLayer>(layer_);
    // Component events queue behind the commits, as the touches do.
    std::weak_ptr<UiInbox> inbox = inbox_;
    natives_ = std::make_unique<render::NativeViews>(
        std::move(components), nativeLayer_.get(), [this, inbox](Tag tag, std::string type, render::Props payload) {
          auto target = inbox.lock();
          if (!target) return;
          target->PostTask([this, tag, type = std::move(type), payload = std::move(payload)]() mutable {
            if (events_.viewEvent) events_.viewEvent(tag, std::move(type), std::move(payload));
          });
        });
    area_ = gtk_drawing_area_new();
    gtk_widget_set_name(area_, "talvek-surface");
    gtk_widget_set_hexpand(area_, TRUE);
    gtk_widget_set_vexpand(area_, TRUE);
    gtk_widget_add_events(area_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                     GDK_LEAVE_NOTIFY_MASK | GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK |
                                     GDK_SMOOTH_SCROLL_MASK);
    g_signal_connect(area_, "draw", G_CALLBACK(&GtkRenderView::OnDraw), this);
    g_signal_connect(area_, "size-allocate", G_CALLBACK(&GtkRenderView::OnSizeAllocate), this);
    g_signal_connect(area_, "button-press-event", G_CALLBACK(&GtkRenderView::OnButtonPress), this);
    g_signal_connect(area_, "button-release-event", G_CALLBACK(&GtkRenderView::OnButtonRelease), this);
    g_signal_connect(area_, "motion-notify-event", G_CALLBACK(&GtkRenderView::OnMotion), this);
    g_signal_connect(area_, "leave-notify-event", G_CALLBACK(&GtkRenderView::OnLeave), this);
    g_signal_connect(area_, "scroll-event", G_CALLBACK(&GtkRenderView::OnScroll), this);
    g_signal_connect(area_, "grab-broken-event", G_CALLBACK(&GtkRenderView::OnGrabBroken), this);
    g_signal_connect(area_, "notify::scale-factor", G_CALLBACK(&GtkRenderView::OnScaleChanged), this);
    gtk_container_add(GTK_CONTAINER(overlay_), area_);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), layer_);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay_), layer_, TRUE);
    g_object_ref(overlay_);
    gtk_container_add(container, overlay_);
    gtk_widget_show_all(overlay_);

    // Scrolling keys reach the window, not the drawing area (it takes no
    // focus); only keys the focused widget and the window left alone scroll.
    GtkWidget* top = gtk_widget_get_toplevel(overlay_);
    if (GTK_IS_WINDOW(top)) {
      toplevel_ = top;
      g_object_ref(toplevel_);
      g_signal_connect_after(toplevel_, "key-press-event", G_CALLBACK(&GtkRenderView::OnKeyPress), this);
    }

    settings_ = gtk_settings_get_default();
    if (settings_ != nullptr) {
      g_object_ref(settings_);
      themeHandler_ = g_signal_connect(settings_, "notify::gtk-application-prefer-dark-theme",
                                       G_CALLBACK(&GtkRenderView::OnThemeChanged), this);
      themeNameHandler_ =
          g_signal_connect(settings_, "notify::gtk-theme-name", G_CALLBACK(&GtkRenderView::OnThemeChanged), this);
    }
    scheme_ = ReadColorScheme();
  }

  ~GtkRenderView() override {
    if (settings_ != nullptr) {
      g_signal_handler_disconnect(settings_, themeHandler_);
      g_signal_handler_disconnect(settings_, themeNameHandler_);
      g_object_unref(settings_);
    }
    if (toplevel_ != nullptr) {
      g_signal_handlers_disconnect_by_data(toplevel_, this);
      g_object_unref(toplevel_);
    }
    if (tickId_ != 0) gtk_widget_remove_tick_callback(area_, tickId_);
    if (scrollTimer_ != 0) g_source_remove(scrollTimer_);
    loader_.reset();  // no more decoded images after this
    natives_->UnmountAll();
    inbox_->Close();
    g_signal_handlers_disconnect_by_data(area_, this);
    if (GtkWidget* parent = gtk_widget_get_parent(overlay_)) gtk_container_remove(GTK_CONTAINER(parent), overlay_);
    g_object_unref(overlay_);
  }

  void Apply(render::MountTransaction transaction) override { inbox_->PostCommit(std::move(transaction)); }

  render::LayoutConstraints Constraints() const override {
    render::LayoutConstraints c;
    c.size = {static_cast<float>(std::max(1, gtk_widget_get_allocated_width(area_))),
              static_cast<float>(std::max(1, gtk_widget_get_allocated_height(area_)))};
    c.pointScale = static_cast<float>(std::max(1, gtk_widget_get_scale_factor(area_)));
    c.fontScale = 1;
    c.direction = gtk_widget_get_direction(area_) == GTK_TEXT_DIR_RTL ? render::LayoutDirection::Rtl
                                                                      : render::LayoutDirection::Ltr;
    return c;
  }

  std::string ColorScheme() const override { return scheme_; }

  void Command(Tag tag, std::string command, JSValue args) override {
    inbox_->PostTask([this, tag, command = std::move(command), args = std::move(args)] {
      if (tree_.Scroll(tag)) {
        scroller_.Command(tree_, tag, command, args, NowMs());
        ScrollChanged();
        return;
      }
      natives_->Command(tag, command, args);
    });
  }

 private:
  // ---- commits and images -------------------------------------------------------------

  void Drain() {
    std::deque<render::MountTransaction> commits;
    std::deque<LoadedImage> images;
    std::deque<UiInbox::Task> tasks;
    inbox_->Take(commits, images, tasks);
    size_t applied = 0;
    auto runTasksUpTo = [&](size_t commitCount) {
      while (!tasks.empty() && tasks.front().first <= commitCount) {
        tasks.front().second();
        tasks.pop_front();
      }
    };
    for (auto& transaction : commits) {
      runTasksUpTo(applied);
      tree_.Apply(transaction);
      natives_->Apply(transaction, tree_);
      WatchImages(transaction);
      ++applied;
    }
    runTasksUpTo(applied);
    for (auto& loaded : images) Loaded(std::move(loaded));
    if (!commits.empty()) ScrollChanged();
    QueueDamage();
  }

  void QueueDamage() {
    for (const render::Rect& rect : tree_.TakeDamage(rootTag_)) {
      const int x = static_cast<int>(std::floor(rect.x)) - 1;
      const int y = static_cast<int>(std::floor(rect.y)) - 1;
      const int right = static_cast<int>(std::ceil(rect.x + rect.width)) + 1;
      const int bottom = static_cast<int>(std::ceil(rect.y + rect.height)) + 1;
      if (right > x && bottom > y) gtk_widget_queue_draw_area(area_, x, y, right - x, bottom - y);
    }
  }

  // Image views whose source changed start loading; their events follow.
  void WatchImages(const render::MountTransaction& transaction) {
    for (const auto& op : transaction.ops) {
      if (op.kind == render::MountKind::Delete) {
        imageOf_.erase(op.tag);
        continue;
      }
      if ((op.kind != render::MountKind::Create && op.kind != render::MountKind::UpdateProps) || !op.model ||
          op.model->kind != render::ViewKind::Image) {
        continue;
      }
      const std::string uri = op.model->image.sources.empty() ? std::string() : op.model->image.sources.front().uri;
      auto& current = imageOf_[op.tag];
      if (current == uri) continue;
      current = uri;
      if (uri.empty()) continue;
      Emit(op.tag, "topLoadStart", render::Props::object());
      if (auto failed = failed_.find(uri); failed != failed_.end()) {
        Report(op.tag, uri, LoadedImage{uri, nullptr, failed->second});
      } else if (auto image = loader_ ? loader_->Cached(uri) : nullptr) {
        Report(op.tag, uri, LoadedImage{uri, image, {}});
      } else {
        Request(uri);
      }
    }
  }

  // Starts decoding unless it is under way or failed before.
  void Request(const std::string& uri) {
    if (failed_.count(uri) != 0 || !requested_.insert(uri).second) return;
    if (!loader_) loader_ = std::make_unique<ImageLoader>();
    std::weak_ptr<UiInbox> inbox = inbox_;
    loader_->Load(uri, [inbox](LoadedImage loaded) {
      if (auto target = inbox.lock()) target->PostImage(std::move(loaded));
    });
  }

  void Loaded(LoadedImage loaded) {
    requested_.erase(loaded.uri);
    if (!loaded.image) failed_[loaded.uri] = loaded.error;
    for (const auto& [tag, uri] : imageOf_) {
      if (uri == loaded.uri) Report(tag, uri, loaded);
    }
  }

  void Report(Tag tag, const std::string& uri, const LoadedImage& loaded) {
    if (loaded.image) {
      const render::Props source{{"uri", uri}, {"width", loaded.image->PixelWidth()}, {"height", loaded.image->PixelHeight()}};
      Emit(tag, "topLoad", render::Props{{"source", source}});
      if (auto frame = tree_.AbsoluteFrame(tag)) QueueDraw(*frame);
    } else {
      Emit(tag, "topError", render::Props{{"error", loaded.error}});
    }
    Emit(tag, "topLoadEnd", render::Props::object());
  }

  render::CanvasImagePtr LookUp(const render::ImageSource& source) {
    if (source.uri.empty()) return nullptr;
    if (loader_) {
      if (auto image = loader_->Cached(source.uri)) return image;
    }
    // Evicted from the cache since (or not loaded yet): decode again.
    Request(source.uri);
    return nullptr;
  }

  void QueueDraw(const render::Rect& rect) {
    gtk_widget_queue_draw_area(area_, static_cast<int>(std::floor(rect.x)) - 1, static_cast<int>(std::floor(rect.y)) - 1,
                               static_cast<int>(std::ceil(rect.width)) + 2, static_cast<int>(std::ceil(rect.height)) + 2);
  }

  void Emit(Tag tag, const char* type, render::Props payload) {
    payload["target"] = tag;
    if (events_.viewEvent) events_.viewEvent(tag, type, std::move(payload));
  }

  void EmitAll(std::vector<render::ViewEvent> events) {
    for (auto& event : events) {
      if (events_.viewEvent) events_.viewEvent(event.target, std::move(event.type), std::move(event.payload));
    }
  }

  // ---- scrolling ------------------------------------------------------------------------

  static double NowMs() { return static_cast<double>(g_get_monotonic_time()) / 1000.0; }

  static gboolean OnScroll(GtkWidget*, GdkEventScroll* event, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    const double now = NowMs();
    if (gdk_event_is_scroll_stop_event(reinterpret_cast<GdkEvent*>(event))) {
      self->scroller_.TouchpadStop(self->tree_, now);
      self->ScrollChanged();
      return TRUE;
    }
    render::Point delta;
    bool smooth = false;
    switch (event->direction) {
      case GDK_SCROLL_UP: delta = {0, -1}; break;
      case GDK_SCROLL_DOWN: delta = {0, 1}; break;
      case GDK_SCROLL_LEFT: delta = {-1, 0}; break;
      case GDK_SCROLL_RIGHT: delta = {1, 0}; break;
      case GDK_SCROLL_SMOOTH:
        delta = {static_cast<float>(event->delta_x), static_cast<float>(event->delta_y)};
        smooth = true;
        break;
    }
    // Shift turns a wheel sideways, as the toolkit's scrolled windows do.
    if ((event->state & GDK_SHIFT_MASK) != 0 && delta.x == 0) std::swap(delta.x, delta.y);
    const render::Point at{static_cast<float>(event->x), static_cast<float>(event->y)};
    if (self->scroller_.Wheel(self->tree_, self->rootTag_, at, delta, smooth, now)) self->ScrollChanged();
    return TRUE;
  }

  static gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    constexpr guint kChords = GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SUPER_MASK | GDK_META_MASK;
    if ((event->state & kChords) != 0) return FALSE;
    // Keys typed into a text field are its own.
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    if (focus != nullptr && (GTK_IS_EDITABLE(focus) || GTK_IS_TEXT_VIEW(focus))) return FALSE;
    const bool shift = (event->state & GDK_SHIFT_MASK) != 0;
    std::optional<render::ScrollKey> key;
    switch (event->keyval) {
      case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: key = render::ScrollKey::PageUp; break;
      case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: key = render::ScrollKey::PageDown; break;
      case GDK_KEY_space: key = shift ? render::ScrollKey::PageUp : render::ScrollKey::PageDown; break;
      case GDK_KEY_Home: case GDK_KEY_KP_Home: key = render::ScrollKey::Home; break;
      case GDK_KEY_End: case GDK_KEY_KP_End: key = render::ScrollKey::End; break;
      case GDK_KEY_Up: case GDK_KEY_KP_Up: key = render::ScrollKey::Up; break;
      case GDK_KEY_Down: case GDK_KEY_KP_Down: key = render::ScrollKey::Down; break;
      case GDK_KEY_Left: case GDK_KEY_KP_Left: key = render::ScrollKey::Left; break;
      case GDK_KEY_Right: case GDK_KEY_KP_Right: key = render::ScrollKey::Right; break;
      default: return FALSE;
    }
    if (!self->scroller_.Key(self->tree_, self->rootTag_, self->pointer_, *key, NowMs())) return FALSE;
    self->ScrollChanged();
    return TRUE;
  }

  // After anything that may have moved a scroll view: its events, its
  // drawing, and the frame clock while an animation runs.
  void ScrollChanged() {
    EmitAll(scroller_.TakeEvents(tree_, NowMs()));
    if (natives_->Count() > 0) {
      const auto constraints = tree_.Constraints(rootTag_);
      natives_->Reposition(tree_, constraints && constraints->pointScale > 0 ? constraints->pointScale : 1);
    }
    QueueDamage();
    if (scroller_.Animating() && tickId_ == 0) {
      tickId_ = gtk_widget_add_tick_callback(area_, &GtkRenderView::OnTick, this, nullptr);
    }
    const double due = scroller_.NextDueMs();
    if (due > 0 && scrollTimer_ == 0) {
      const double wait = std::max(1.0, due - NowMs());
      scrollTimer_ = g_timeout_add(static_cast<guint>(std::ceil(wait)), &GtkRenderView::OnScrollTimer, this);
    }
  }

  static gboolean OnTick(GtkWidget*, GdkFrameClock*, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    const bool more = self->scroller_.Tick(self->tree_, NowMs());
    if (!more) self->tickId_ = 0;
    self->ScrollChanged();
    return more ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  }

  static gboolean OnScrollTimer(gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    self->scrollTimer_ = 0;
    self->ScrollChanged();
    return G_SOURCE_REMOVE;
  }

  // ---- drawing --------------------------------------------------------------------------

  static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    // GTK already draws in logical pixels on a surface of the window's scale.
    CairoCanvas canvas(cr, 1.0f, 1.0f);
    render::PaintOptions options;
    options.clip = render::Rect{static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2 - x1),
                                static_cast<float>(y2 - y1)};
    options.pointScale = static_cast<float>(std::max(1, gtk_widget_get_scale_factor(self->area_)));
    options.images = [self](const render::ImageSource& source) { return self->LookUp(source); };
    render::PaintSurface(self->tree_, self->rootTag_, canvas, options);
    return TRUE;
  }

  // ---- size, scale and theme ------------------------------------------------------------

  static void OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer data) { static_cast<GtkRenderView*>(data)->ViewportMaybeChanged(); }
  static void OnScaleChanged(GObject*, GParamSpec*, gpointer data) { static_cast<GtkRenderView*>(data)->ViewportMaybeChanged(); }

  void ViewportMaybeChanged() {
    const render::LayoutConstraints now = Constraints();
    if (reported_ && *reported_ == now) return;
    reported_ = now;
    if (events_.viewportChanged) events_.viewportChanged(now);
  }

  std::string ReadColorScheme() const {
    if (settings_ == nullptr) return "light";
    gboolean preferDark = FALSE;
    gchar* theme = nullptr;
    g_object_get(settings_, "gtk-application-prefer-dark-theme", &preferDark, "gtk-theme-name", &theme, nullptr);
    std::string name = theme != nullptr ? theme : "";
    g_free(theme);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return preferDark || name.find("dark") != std::string::npos ? "dark" : "light";
  }

  static void OnThemeChanged(GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    const std::string scheme = self->ReadColorScheme();
    if (scheme == self->scheme_) return;
    self->scheme_ = scheme;
    if (self->events_.colorSchemeChanged) self->events_.colorSchemeChanged(scheme);
  }

  // ---- input ------------------------------------------------------------------------------

  static render::PointerInput Input(double x, double y, guint32 time, guint button) {
    render::PointerInput input;
    input.point = {static_cast<float>(x), static_cast<float>(y)};
    input.timestampMs = static_cast<double>(time);
    input.button = static_cast<int>(button);
    return input;
  }

  static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    if (event->type != GDK_BUTTON_PRESS) return TRUE;  // double and triple clicks come as presses too
    self->UpdateScreenOrigin(event->x_root - event->x, event->y_root - event->y);
    const render::Point at{static_cast<float>(event->x), static_cast<float>(event->y)};
    if (event->button == 1 && self->scroller_.PressScrollbar(self->tree_, self->rootTag_, at, NowMs())) {
      self->ScrollChanged();
      return TRUE;  // the scrollbar's, not a touch
    }
    self->EmitAll(self->touches_.PointerDown(self->tree_, Input(event->x, event->y, event->time, event->button)));
    return TRUE;
  }

  static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    if (self->scroller_.ReleaseScrollbar()) return TRUE;
    self->EmitAll(self->touches_.PointerUp(self->tree_, Input(event->x, event->y, event->time, event->button)));
    return TRUE;
  }

  static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    const auto input = Input(event->x, event->y, event->time, 1);
    self->pointer_ = input.point;
    if (self->scroller_.DragScrollbar(self->tree_, input.point)) {
      self->ScrollChanged();
      return TRUE;
    }
    if (self->touches_.ActiveTouches() > 0) self->EmitAll(self->touches_.PointerMove(self->tree_, input));
    render::HoverResult hover = self->hover_.Move(self->tree_, input.point, input.timestampMs);
    self->EmitAll(std::move(hover.events));
    self->SetCursor(hover.cursor);
    return TRUE;
  }

  static gboolean OnLeave(GtkWidget*, GdkEventCrossing* event, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    if (event->mode != GDK_CROSSING_NORMAL) return FALSE;
    self->pointer_.reset();
    render::HoverResult hover = self->hover_.Leave(
        self->tree_, render::Point{static_cast<float>(event->x), static_cast<float>(event->y)}, static_cast<double>(event->time));
    self->EmitAll(std::move(hover.events));
    self->SetCursor(render::Cursor::Auto);
    return FALSE;
  }

  static gboolean OnGrabBroken(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkRenderView*>(data);
    self->EmitAll(self->touches_.CancelAll(self->tree_, static_cast<double>(g_get_monotonic_time()) / 1000.0));
    return FALSE;
  }

  void UpdateScreenOrigin(double x, double y) {
    touches_.SetScreenOrigin(render::Point{static_cast<float>(x), static_cast<float>(y)});
  }

  void SetCursor(render::Cursor cursor) {
    if (cursor == cursor_) return;
    cursor_ = cursor;
    GdkWindow* window = gtk_widget_get_window(area_);
    if (window == nullptr) return;
    GdkCursor* shape = cursor == render::Cursor::Pointer
                           ? gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer")
                           : nullptr;
    gdk_window_set_cursor(window, shape);
    if (shape != nullptr) g_object_unref(shape);
  }

  Tag rootTag_;
  RenderViewEvents events_;
  GtkWidget* overlay_ = nullptr;  // the drawing below, the native layer above
  GtkWidget* area_ = nullptr;
  GtkWidget* layer_ = nullptr;
  std::unique_ptr<NativeLayer> nativeLayer_;
  GtkSettings* settings_ = nullptr;
  gulong themeHandler_ = 0;
  gulong themeNameHandler_ = 0;
  std::string scheme_;
  std::optional<render::LayoutConstraints> reported_;
  render::MountedTree tree_;
  render::TouchTracker touches_;
  render::HoverTracker hover_;
  render::Cursor cursor_ = render::Cursor::Auto;
  render::ScrollController scroller_;
  guint tickId_ = 0;       // the frame clock's callback while a scroll animates
  GtkWidget* toplevel_ = nullptr;         // the window whose keys scroll (a reference held)
  std::optional<render::Point> pointer_;  // where the pointer is over the drawing, if it is
  guint scrollTimer_ = 0;  // the held-back scroll events' timeout
  std::unordered_map<Tag, std::string> imageOf_;       // image view -> its source
  std::unordered_map<std::string, std::string> failed_;  // URI -> why it cannot be drawn
  std::set<std::string> requested_;
  std::shared_ptr<UiInbox> inbox_;
  std::unique_ptr<ImageLoader> loader_;
  std::unique_ptr<render::NativeViews> natives_;  // after inbox_: its emitters post there
};

}  // namespace

std::unique_ptr<RenderView> MakeGtkRenderView(void* container, render::Tag rootTag, RenderViewEvents events,
                                              ViewComponentMap components) {
  return std::make_unique<GtkRenderView>(GTK_CONTAINER(container), rootTag, std::move(events), std::move(components));
}

}  // namespace VirelantDesktop::platform
