// The main window's drop target and key watch on GTK 3. The window is a drag
// destination for file lists that decides every motion itself; widgets with
// drag destinations of their own (the embed view's web view) keep their
// drops, as GTK hands a drag to the deepest destination under the pointer.
// GTK sends "drag-leave" just before "drag-drop", so a leave is held back
// until the main loop is idle and dropped when a drop came first.
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "platform/attach_surface.h"

namespace VirelantDesktop::platform {
namespace {

constexpr const char* kUriList = "text/uri-list";

class GtkAttachSurface {
 public:
  GtkAttachSurface(GtkWidget* window, AttachSurfaceEvents events) : window_(window), events_(std::move(events)) {
    GtkTargetEntry target{const_cast<gchar*>(kUriList), 0, 0};
    gtk_drag_dest_set(window_, static_cast<GtkDestDefaults>(0), &target, 1,
                      static_cast<GdkDragAction>(GDK_ACTION_COPY | GDK_ACTION_LINK));
    g_signal_connect(window_, "drag-motion", G_CALLBACK(&GtkAttachSurface::OnMotion), this);
    g_signal_connect(window_, "drag-leave", G_CALLBACK(&GtkAttachSurface::OnLeave), this);
    g_signal_connect(window_, "drag-drop", G_CALLBACK(&GtkAttachSurface::OnDrop), this);
    g_signal_connect(window_, "drag-data-received", G_CALLBACK(&GtkAttachSurface::OnData), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(&GtkAttachSurface::OnKey), this);
    g_signal_connect(window_, "key-release-event", G_CALLBACK(&GtkAttachSurface::OnKeyRelease), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(&GtkAttachSurface::OnDestroy), this);
  }
  ~GtkAttachSurface() {
    CancelPendingLeave();
    g_signal_handlers_disconnect_by_data(window_, this);
  }
  GtkAttachSurface(const GtkAttachSurface&) = delete;
  GtkAttachSurface& operator=(const GtkAttachSurface&) = delete;

 private:
  static DragOffer OfferOf(GdkDragContext* context) {
    DragOffer offer;
    const GdkAtom uriList = gdk_atom_intern_static_string(kUriList);
    for (GList* item = gdk_drag_context_list_targets(context); item != nullptr; item = item->next) {
      if (GDK_POINTER_TO_ATOM(item->data) == uriList) offer.hasFiles = true;
    }
    const GdkDragAction actions = gdk_drag_context_get_actions(context);
    offer.copyAllowed = (actions & GDK_ACTION_COPY) != 0;
    offer.linkAllowed = (actions & GDK_ACTION_LINK) != 0;
    return offer;
  }

  static GdkDragAction ToGdk(DragAction action) {
    switch (action) {
      case DragAction::Copy:
        return GDK_ACTION_COPY;
      case DragAction::Link:
        return GDK_ACTION_LINK;
      case DragAction::None:
        break;
    }
    return static_cast<GdkDragAction>(0);
  }

  static gboolean OnMotion(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    const DragOffer offer = OfferOf(context);
    DragAction action = DragAction::None;
    self->CancelPendingLeave();
    if (self->current_ != context) {
      self->current_ = context;
      if (self->events_.dragEnter) action = self->events_.dragEnter(offer);
    } else if (self->events_.dragOver) {
      action = self->events_.dragOver(offer);
    }
    gdk_drag_status(context, ToGdk(action), time);
    return TRUE;  // refused drags are answered too
  }

  static void OnLeave(GtkWidget*, GdkDragContext*, guint, gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    self->CancelPendingLeave();
    self->leaveSource_ = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &GtkAttachSurface::OnLeaveIdle, self, nullptr);
  }

  static gboolean OnLeaveIdle(gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    self->leaveSource_ = 0;
    self->current_ = nullptr;
    if (self->events_.dragLeave) self->events_.dragLeave();
    return G_SOURCE_REMOVE;
  }

  void CancelPendingLeave() {
    if (leaveSource_ != 0) g_source_remove(leaveSource_);
    leaveSource_ = 0;
  }

  static gboolean OnDrop(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time, gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    self->CancelPendingLeave();
    const DragOffer offer = OfferOf(context);
    if (!offer.hasFiles) {
      self->Finish(context, std::string(), offer, time);
      return TRUE;
    }
    gtk_drag_get_data(widget, context, gdk_atom_intern_static_string(kUriList), time);
    return TRUE;
  }

  static void OnData(GtkWidget*, GdkDragContext* context, gint, gint, GtkSelectionData* selection, guint, guint time,
                     gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    std::string uriList;
    const gint length = selection != nullptr ? gtk_selection_data_get_length(selection) : -1;
    const guchar* bytes = selection != nullptr ? gtk_selection_data_get_data(selection) : nullptr;
    if (length > 0 && bytes != nullptr) uriList.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    self->Finish(context, uriList, OfferOf(context), time);
  }

  void Finish(GdkDragContext* context, const std::string& uriList, const DragOffer& offer, guint time) {
    current_ = nullptr;
    const DragAction action = events_.drop ? events_.drop(uriList, offer) : DragAction::None;
    gtk_drag_finish(context, action != DragAction::None, FALSE, time);
  }

  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    if (!self->events_.keyPressed) return FALSE;
    KeyChordPress press;
    const guint key = gdk_keyval_to_lower(event->keyval);
    press.key = key == GDK_KEY_v ? KeyName::V : (key == GDK_KEY_Insert || key == GDK_KEY_KP_Insert) ? KeyName::Insert
                                                                                                   : KeyName::Other;
    press.ctrl = (event->state & GDK_CONTROL_MASK) != 0;
    press.shift = (event->state & GDK_SHIFT_MASK) != 0;
    press.alt = (event->state & GDK_MOD1_MASK) != 0;
    // GTK marks no repeats: a press of the key already down is one.
    press.repeat = self->down_ == event->hardware_keycode;
    self->down_ = event->hardware_keycode;
    self->events_.keyPressed(press);
    return FALSE;  // the page gets the key too
  }

  static gboolean OnKeyRelease(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkAttachSurface*>(data);
    if (self->down_ == event->hardware_keycode) self->down_ = 0;
    return FALSE;
  }

  static void OnDestroy(GtkWidget*, gpointer data) { delete static_cast<GtkAttachSurface*>(data); }

  GtkWidget* window_;
  AttachSurfaceEvents events_;
  GdkDragContext* current_ = nullptr;  // the drag under way (compared, never dereferenced)
  guint leaveSource_ = 0;
  guint16 down_ = 0;  // the hardware key last pressed and not released

};

}  // namespace

bool ConnectGtkAttachSurface(void* window, AttachSurfaceEvents events) {
  if (window == nullptr || !GTK_IS_WIDGET(window)) return false;
  new GtkAttachSurface(GTK_WIDGET(window), std::move(events));  // freed when the window goes
  return true;
}

}  // namespace VirelantDesktop::platform
