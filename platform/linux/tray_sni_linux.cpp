// The tray icon as a StatusNotifierItem: the item and its dbusmenu are objects
// on the session bus under a well-known name of ours, and the desktop's
// StatusNotifierWatcher is told that name; its hosts draw the icon and call
// back into the objects.
//
// Everything happens on the UI thread. GDBus hands method calls, property
// reads and the watcher's name changes to the default main context; the only
// calls that wait for an answer (taking the name, registering) carry a short
// timeout. Events reach TrayEvents from an idle callback of their own, never
// from inside a GDBus callback, so a handler may add, remove or destroy the
// tray as it likes.
#include "platform/tray.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <unistd.h>

#include <deque>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace VirelantDesktop::platform {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
constexpr int kCallTimeoutMs = 2000;
constexpr guint32 kMenuRevision = 1;  // the menu never changes once exported
constexpr int kMaxIconSide = 1024;    // hosts draw a few dozen pixels; bigger files are a mistake
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";

constexpr const char* kIntrospection = R"XML(
<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg name="parentId" type="i" direction="in"/>
      <arg name="recursionDepth" type="i" direction="in"/>
      <arg name="propertyNames" type="as" direction="in"/>
      <arg name="revision" type="u" direction="out"/>
      <arg name="layout" type="(ia{sv}av)" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg name="ids" type="ai" direction="in"/>
      <arg name="propertyNames" type="as" direction="in"/>
      <arg name="properties" type="a(ia{sv})" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg name="id" type="i" direction="in"/>
      <arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="Event">
      <arg name="id" type="i" direction="in"/>
      <arg name="eventId" type="s" direction="in"/>
      <arg name="data" type="v" direction="in"/>
      <arg name="timestamp" type="u" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg name="events" type="a(isvu)" direction="in"/>
      <arg name="idErrors" type="ai" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg name="id" type="i" direction="in"/>
      <arg name="needUpdate" type="b" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg name="ids" type="ai" direction="in"/>
      <arg name="updatesNeeded" type="ai" direction="out"/>
      <arg name="idErrors" type="ai" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg name="updatedProps" type="a(ia{sv})"/>
      <arg name="removedProps" type="a(ias)"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg name="revision" type="u"/>
      <arg name="parent" type="i"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg name="id" type="i"/>
      <arg name="timestamp" type="u"/>
    </signal>
  </interface>
</node>
)XML";

// Parsed once and kept for the life of the process.
GDBusInterfaceInfo* InterfaceInfo(const char* name) {
  static GDBusNodeInfo* const node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node != nullptr ? g_dbus_node_info_lookup_interface(node, name) : nullptr;
}

struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
using OwnedVariant = std::unique_ptr<GVariant, VariantUnref>;

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

GVariant* EmptyPixmaps() { return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0); }

// One (width, height, ARGB32) image of a PNG file: four bytes a pixel in
// network order (A, R, G, B), rows packed. Null when the file is unreadable
// or of a layout we don't expect.
GVariant* PixmapFromFile(const std::string& path) noexcept {
  GError* error = nullptr;
  std::unique_ptr<GdkPixbuf, ObjectUnref> pixbuf(gdk_pixbuf_new_from_file(path.c_str(), &error));
  g_clear_error(&error);
  if (!pixbuf) return nullptr;
  const int width = gdk_pixbuf_get_width(pixbuf.get());
  const int height = gdk_pixbuf_get_height(pixbuf.get());
  const int channels = gdk_pixbuf_get_n_channels(pixbuf.get());
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf.get());
  if (gdk_pixbuf_get_colorspace(pixbuf.get()) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(pixbuf.get()) != 8 || channels != (alpha ? 4 : 3) || width <= 0 || height <= 0 ||
      width > kMaxIconSide || height > kMaxIconSide) {
    return nullptr;
  }
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf.get());
  const size_t stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(pixbuf.get()));
  try {
    std::vector<guint8> argb(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    guint8* out = argb.data();
    for (int y = 0; y < height; ++y) {
      // Rows are `stride` apart; the last one may stop right after its pixels.
      const guint8* in = pixels + static_cast<size_t>(y) * stride;
      for (int x = 0; x < width; ++x, in += channels, out += 4) {
        out[0] = alpha ? in[3] : 0xFF;
        out[1] = in[0];
        out[2] = in[1];
        out[3] = in[2];
      }
    }
    return g_variant_new("(ii@ay)", width, height,
                         g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

GVariant* PixmapsFromFiles(const std::vector<std::string>& files) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  for (const std::string& file : files) {
    if (GVariant* image = PixmapFromFile(file)) g_variant_builder_add_value(&builder, image);
  }
  return g_variant_builder_end(&builder);
}

// Whether a dbusmenu property was asked for: an empty list asks for all.
bool Wanted(GVariant* names, const char* key) {
  if (names == nullptr || g_variant_n_children(names) == 0) return true;
  GVariantIter iter;
  g_variant_iter_init(&iter, names);
  const char* name = nullptr;
  while (g_variant_iter_next(&iter, "&s", &name)) {
    if (g_str_equal(name, key)) return true;
  }
  return false;
}

void AddWanted(GVariantBuilder* builder, GVariant* names, const char* key, GVariant* value) {
  g_variant_ref_sink(value);
  if (Wanted(names, key)) g_variant_builder_add(builder, "{sv}", key, value);
  g_variant_unref(value);
}

// What a method handler answers: a (floating) result, or a D-Bus error.
struct Reply {
  GVariant* value = nullptr;  // null: a call without results
  const char* error = nullptr;
  const char* message = nullptr;
};

Reply Failure(const char* error, const char* message) { return Reply{nullptr, error, message}; }

void Send(GDBusMethodInvocation* invocation, const Reply& reply) {
  if (reply.error != nullptr) {
    g_dbus_method_invocation_return_dbus_error(invocation, reply.error, reply.message);
  } else {
    g_dbus_method_invocation_return_value(invocation, reply.value);
  }
}

class StatusNotifierTray final : public Tray {
 public:
  StatusNotifierTray(TrayOptions options, TrayEvents events);
  ~StatusNotifierTray() override;
  StatusNotifierTray(const StatusNotifierTray&) = delete;
  StatusNotifierTray& operator=(const StatusNotifierTray&) = delete;

  bool Add() override;
  void Remove() override;

 private:
  bool Export();
  bool OwnName();
  bool RegisterWithWatcher();

  // Queues an event for the next idle moment of the default main context.
  void Post(std::function<void()> event);
  static gboolean DeliverPending(gpointer self);

  GVariant* ItemProperty(std::string_view name) const;
  Reply ItemCall(std::string_view method);
  GVariant* MenuProperty(std::string_view name) const;
  Reply MenuCall(std::string_view method, GVariant* parameters);
  bool Known(int id) const;
  const TrayMenuEntry* Entry(int id) const;
  GVariant* MenuItemProperties(int id, GVariant* names) const;
  GVariant* LayoutNode(int id, int depth, GVariant* names) const;
  // False for an unknown id; a click on an entry posts its command.
  bool MenuEvent(int id, const char* event);

  static void OnWatcherAppeared(GDBusConnection*, const gchar* name, const gchar* owner, gpointer self);
  static void OnWatcherVanished(GDBusConnection*, const gchar* name, gpointer self);
  static void OnMethodCall(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface,
                           const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* OnGetProperty(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface,
                                 const gchar* property, GError** error, gpointer self);

  static constexpr GDBusInterfaceVTable kVTable = {&OnMethodCall, &OnGetProperty, nullptr, {}};

  const TrayOptions options_;
  const TrayEvents events_;
  std::vector<TrayMenuEntry> menu_;  // the entries with usable ids
  const std::string bus_name_;
  GVariant* icons_ = nullptr;  // a(iiay), owned
  GDBusConnection* bus_ = nullptr;
  guint watch_id_ = 0;
  guint item_id_ = 0;  // object registrations
  guint menu_id_ = 0;
  bool name_owned_ = false;
  std::string host_owner_;  // unique name of the watcher that took the item; empty when none
  std::deque<std::function<void()>> pending_;
  guint idle_id_ = 0;
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

StatusNotifierTray::StatusNotifierTray(TrayOptions options, TrayEvents events)
    : options_(std::move(options)),
      events_(std::move(events)),
      bus_name_("org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1") {
  // An entry's command is its item id: 0 is the menu's root, and hosts mix
  // up negative or repeated ids, so such entries are left out.
  std::set<int> seen;
  for (const TrayMenuEntry& entry : options_.menu) {
    if (entry.command > 0 && seen.insert(entry.command).second) menu_.push_back(entry);
  }
  icons_ = g_variant_ref_sink(PixmapsFromFiles(options_.iconFiles));

  GError* error = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus_ == nullptr) {
    g_clear_error(&error);
    return;
  }
  // A bus that goes away takes the icon with it, not the shell.
  g_dbus_connection_set_exit_on_close(bus_, FALSE);
  watch_id_ = g_bus_watch_name_on_connection(bus_, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, &OnWatcherAppeared,
                                             &OnWatcherVanished, this, nullptr);
}

StatusNotifierTray::~StatusNotifierTray() {
  *alive_ = false;
  if (idle_id_ != 0) g_source_remove(idle_id_);
  if (watch_id_ != 0) g_bus_unwatch_name(watch_id_);
  Remove();
  g_variant_unref(icons_);
  if (bus_ != nullptr) {
    // The last reference to the shared connection closes it at once, and
    // with it whatever is still queued: the name's release, or the reply to
    // the click that led here. The flush holds the connection till it's out.
    g_dbus_connection_flush(bus_, nullptr, nullptr, nullptr);
    g_object_unref(bus_);
  }
}

bool StatusNotifierTray::Add() {
  if (bus_ == nullptr) return false;
  if (Export() && OwnName() && RegisterWithWatcher()) return true;
  // Nobody shows the item: leave nothing behind on the bus.
  Remove();
  return false;
}

void StatusNotifierTray::Remove() {
  if (bus_ == nullptr) return;
  if (item_id_ != 0) g_dbus_connection_unregister_object(bus_, item_id_);
  if (menu_id_ != 0) g_dbus_connection_unregister_object(bus_, menu_id_);
  item_id_ = menu_id_ = 0;
  if (name_owned_) {
    // Hosts drop an item when its name goes. No reply is awaited; a later
    // RequestName on this connection is still handled after it.
    g_dbus_connection_call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
                           g_variant_new("(s)", bus_name_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           nullptr, nullptr);
    name_owned_ = false;
  }
  host_owner_.clear();
}

bool StatusNotifierTray::Export() {
  GDBusInterfaceInfo* item = InterfaceInfo(kItemInterface);
  GDBusInterfaceInfo* menu = InterfaceInfo(kMenuInterface);
  if (item == nullptr || menu == nullptr) return false;
  GError* error = nullptr;
  if (item_id_ == 0) {
    item_id_ = g_dbus_connection_register_object(bus_, kItemPath, item, &kVTable, this, nullptr, &error);
    g_clear_error(&error);
  }
  if (menu_id_ == 0) {
    menu_id_ = g_dbus_connection_register_object(bus_, kMenuPath, menu, &kVTable, this, nullptr, &error);
    g_clear_error(&error);
  }
  return item_id_ != 0 && menu_id_ != 0;
}

bool StatusNotifierTray::OwnName() {
  if (name_owned_) return true;
  constexpr guint32 kDoNotQueue = 4;
  constexpr guint32 kPrimaryOwner = 1;
  constexpr guint32 kAlreadyOwner = 4;
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  "RequestName", g_variant_new("(su)", bus_name_.c_str(), kDoNotQueue),
                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
  if (reply == nullptr) {
    g_clear_error(&error);
    return false;
  }
  guint32 result = 0;
  g_variant_get(reply, "(u)", &result);
  g_variant_unref(reply);
  name_owned_ = result == kPrimaryOwner || result == kAlreadyOwner;
  return name_owned_;
}

bool StatusNotifierTray::RegisterWithWatcher() {
  // Sent as a message rather than a plain call: the reply names the watcher
  // instance that took the item, which tells its later reappearances apart.
  GDBusMessage* message =
      g_dbus_message_new_method_call(kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem");
  g_dbus_message_set_body(message, g_variant_new("(s)", bus_name_.c_str()));
  GError* error = nullptr;
  GDBusMessage* reply = g_dbus_connection_send_message_with_reply_sync(bus_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                                                       kCallTimeoutMs, nullptr, nullptr, &error);
  g_object_unref(message);
  bool registered = false;
  if (reply != nullptr) {
    if (!g_dbus_message_to_gerror(reply, &error)) {
      const char* sender = g_dbus_message_get_sender(reply);
      host_owner_ = sender != nullptr ? sender : "";
      registered = true;
    }
    g_object_unref(reply);
  }
  g_clear_error(&error);
  return registered;
}

void StatusNotifierTray::Post(std::function<void()> event) {
  if (!event) return;
  pending_.push_back(std::move(event));
  if (idle_id_ == 0) {
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, &DeliverPending, this, nullptr);
    idle_id_ = g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }
}

gboolean StatusNotifierTray::DeliverPending(gpointer self_pointer) {
  auto* self = static_cast<StatusNotifierTray*>(self_pointer);
  self->idle_id_ = 0;
  std::deque<std::function<void()>> batch;
  batch.swap(self->pending_);
  const std::shared_ptr<bool> alive = self->alive_;
  // From here on `self` may be gone: a handler may destroy the tray, and
  // what it had left to report goes with it.
  for (auto& event : batch) {
    if (!*alive) break;
    try {
      event();
    } catch (...) {
      g_warning("tray: an event handler threw");
    }
  }
  return G_SOURCE_REMOVE;
}

void StatusNotifierTray::OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar* owner, gpointer self_pointer) {
  auto* self = static_cast<StatusNotifierTray*>(self_pointer);
  // The watcher we are registered with (typically the first report of the
  // watch, right after Add()) is no news; any other instance is a new host.
  if (owner != nullptr && self->host_owner_ == owner) return;
  try {
    self->Post(self->events_.hostAppeared);
  } catch (...) {
  }
}

void StatusNotifierTray::OnWatcherVanished(GDBusConnection*, const gchar*, gpointer self_pointer) {
  static_cast<StatusNotifierTray*>(self_pointer)->host_owner_.clear();
}

void StatusNotifierTray::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                                      const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                                      gpointer self_pointer) {
  auto* self = static_cast<StatusNotifierTray*>(self_pointer);
  Reply reply;
  try {
    reply = g_str_equal(interface, kItemInterface) ? self->ItemCall(method) : self->MenuCall(method, parameters);
  } catch (...) {
    reply = Failure("org.freedesktop.DBus.Error.Failed", "Internal failure");
  }
  Send(invocation, reply);
}

GVariant* StatusNotifierTray::OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                                            const gchar* property, GError** error, gpointer self_pointer) {
  auto* self = static_cast<StatusNotifierTray*>(self_pointer);
  GVariant* value = nullptr;
  try {
    value = g_str_equal(interface, kItemInterface) ? self->ItemProperty(property) : self->MenuProperty(property);
  } catch (...) {
  }
  if (value == nullptr) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
  }
  return value;
}

GVariant* StatusNotifierTray::ItemProperty(std::string_view name) const {
  if (name == "Category") return g_variant_new_string("ApplicationStatus");
  if (name == "Id") return g_variant_new_string(options_.id.c_str());
  if (name == "Title") return g_variant_new_string(options_.title.c_str());
  if (name == "Status") return g_variant_new_string("Active");
  if (name == "WindowId") return g_variant_new_int32(0);
  if (name == "IconPixmap") return g_variant_ref(icons_);
  if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") return EmptyPixmaps();
  if (name == "IconThemePath" || name == "IconName" || name == "OverlayIconName" || name == "AttentionIconName" ||
      name == "AttentionMovieName") {
    return g_variant_new_string("");
  }
  if (name == "ToolTip") {
    return g_variant_new("(s@a(iiay)ss)", "", EmptyPixmaps(), options_.title.c_str(), "");
  }
  if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (name == "Menu") return g_variant_new_object_path(kMenuPath);
  return nullptr;
}

Reply StatusNotifierTray::ItemCall(std::string_view method) {
  if (method == "Activate" || method == "SecondaryActivate") {
    Post(events_.activated);
  } else if (method == "ContextMenu") {
    Post(events_.menuRequested);
  }
  return {};  // Scroll: nothing to scroll through
}

GVariant* StatusNotifierTray::MenuProperty(std::string_view name) const {
  if (name == "Version") return g_variant_new_uint32(3);
  if (name == "TextDirection") return g_variant_new_string("ltr");
  if (name == "Status") return g_variant_new_string("normal");
  if (name == "IconThemePath") return g_variant_new_strv(nullptr, 0);
  return nullptr;
}

const TrayMenuEntry* StatusNotifierTray::Entry(int id) const {
  for (const TrayMenuEntry& entry : menu_) {
    if (entry.command == id) return &entry;
  }
  return nullptr;
}

bool StatusNotifierTray::Known(int id) const { return id == 0 || Entry(id) != nullptr; }

GVariant* StatusNotifierTray::MenuItemProperties(int id, GVariant* names) const {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
  if (const TrayMenuEntry* entry = Entry(id)) {
    AddWanted(&builder, names, "type", g_variant_new_string("standard"));
    AddWanted(&builder, names, "label", g_variant_new_string(entry->label.c_str()));
    AddWanted(&builder, names, "enabled", g_variant_new_boolean(TRUE));
    AddWanted(&builder, names, "visible", g_variant_new_boolean(TRUE));
  } else {
    AddWanted(&builder, names, "children-display", g_variant_new_string("submenu"));
  }
  return g_variant_builder_end(&builder);
}

GVariant* StatusNotifierTray::LayoutNode(int id, int depth, GVariant* names) const {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  // Depth -1 means all levels, 0 the node alone. Only the root has children.
  if (id == 0 && depth != 0) {
    for (const TrayMenuEntry& entry : menu_) {
      g_variant_builder_add(&children, "v", LayoutNode(entry.command, depth - 1, names));
    }
  }
  return g_variant_new("(i@a{sv}@av)", id, MenuItemProperties(id, names), g_variant_builder_end(&children));
}

bool StatusNotifierTray::MenuEvent(int id, const char* event) {
  if (!Known(id)) return false;
  if (id != 0 && g_str_equal(event, "clicked") && events_.command) {
    Post([command = events_.command, id] { command(id); });
  }
  return true;
}

Reply StatusNotifierTray::MenuCall(std::string_view method, GVariant* parameters) {
  static constexpr const char* kNoSuchItem = "No such menu item";
  if (method == "GetLayout") {
    gint32 parent = 0;
    gint32 depth = 0;
    g_variant_get_child(parameters, 0, "i", &parent);
    g_variant_get_child(parameters, 1, "i", &depth);
    if (!Known(parent)) return Failure(kInvalidArgs, kNoSuchItem);
    OwnedVariant names(g_variant_get_child_value(parameters, 2));
    return {g_variant_new("(u@(ia{sv}av))", kMenuRevision, LayoutNode(parent, depth, names.get()))};
  }
  if (method == "GetGroupProperties") {
    OwnedVariant ids(g_variant_get_child_value(parameters, 0));
    OwnedVariant names(g_variant_get_child_value(parameters, 1));
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ia{sv})"));
    auto add = [&](int id) { g_variant_builder_add(&builder, "(i@a{sv})", id, MenuItemProperties(id, names.get())); };
    if (g_variant_n_children(ids.get()) == 0) {
      add(0);
      for (const TrayMenuEntry& entry : menu_) add(entry.command);
    } else {
      gsize count = 0;
      const gint32* list = static_cast<const gint32*>(g_variant_get_fixed_array(ids.get(), &count, sizeof(gint32)));
      for (gsize i = 0; i < count; ++i) {
        if (Known(list[i])) add(list[i]);
      }
    }
    return {g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&builder))};
  }
  if (method == "GetProperty") {
    gint32 id = 0;
    const char* name = nullptr;
    g_variant_get_child(parameters, 0, "i", &id);
    g_variant_get_child(parameters, 1, "&s", &name);
    if (!Known(id)) return Failure(kInvalidArgs, kNoSuchItem);
    OwnedVariant properties(g_variant_ref_sink(MenuItemProperties(id, nullptr)));
    OwnedVariant value(g_variant_lookup_value(properties.get(), name, nullptr));
    if (!value) return Failure(kInvalidArgs, "No such property");
    return {g_variant_new("(v)", value.get())};
  }
  if (method == "Event") {
    gint32 id = 0;
    const char* event = nullptr;
    g_variant_get_child(parameters, 0, "i", &id);
    g_variant_get_child(parameters, 1, "&s", &event);
    if (!MenuEvent(id, event)) return Failure(kInvalidArgs, kNoSuchItem);
    return {};
  }
  if (method == "EventGroup") {
    OwnedVariant events(g_variant_get_child_value(parameters, 0));
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    const gsize count = g_variant_n_children(events.get());
    for (gsize i = 0; i < count; ++i) {
      OwnedVariant one(g_variant_get_child_value(events.get(), i));
      gint32 id = 0;
      const char* event = nullptr;
      g_variant_get_child(one.get(), 0, "i", &id);
      g_variant_get_child(one.get(), 1, "&s", &event);
      if (!MenuEvent(id, event)) g_variant_builder_add(&errors, "i", id);
    }
    return {g_variant_new("(@ai)", g_variant_builder_end(&errors))};
  }
  if (method == "AboutToShow") return {g_variant_new("(b)", FALSE)};
  if (method == "AboutToShowGroup") {
    OwnedVariant ids(g_variant_get_child_value(parameters, 0));
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    gsize count = 0;
    const gint32* list = static_cast<const gint32*>(g_variant_get_fixed_array(ids.get(), &count, sizeof(gint32)));
    for (gsize i = 0; i < count; ++i) {
      if (!Known(list[i])) g_variant_builder_add(&errors, "i", list[i]);
    }
    return {g_variant_new("(@ai@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                          g_variant_builder_end(&errors))};
  }
  return Failure("org.freedesktop.DBus.Error.UnknownMethod", "No such method");
}

}  // namespace

std::unique_ptr<Tray> MakeStatusNotifierTray(TrayOptions options, TrayEvents events) {
  return std::make_unique<StatusNotifierTray>(std::move(options), std::move(events));
}

}  // namespace VirelantDesktop::platform
