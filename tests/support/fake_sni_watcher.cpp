// A stand-in for the desktop's StatusNotifierWatcher on the session bus, for
// the tray tests. It reports on stdout, one line each, flushed:
//   ready                        it owns org.kde.StatusNotifierWatcher
//   registered <service> <from>  an item registered (service as given, or
//                                sender + path for a bare object path)
//   unregistered <service>       a registered item's name went away
// Exits 0 on SIGTERM or SIGINT, 3 when it cannot own (or loses) the name.
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";

constexpr const char* kIntrospection = R"XML(
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem">
      <arg name="service" type="s" direction="in"/>
    </method>
    <method name="RegisterStatusNotifierHost">
      <arg name="service" type="s" direction="in"/>
    </method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered">
      <arg type="s"/>
    </signal>
    <signal name="StatusNotifierItemUnregistered">
      <arg type="s"/>
    </signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
)XML";

struct Watcher {
  GMainLoop* loop = nullptr;
  GDBusConnection* bus = nullptr;
  bool owned = false;
  int exit_code = 0;
  std::map<std::string, guint> items;  // service -> name watch
};

Watcher watcher;

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void EmitItemSignal(const char* signal, const std::string& service) {
  g_dbus_connection_emit_signal(watcher.bus, nullptr, "/StatusNotifierWatcher", kWatcherName, signal,
                                g_variant_new("(s)", service.c_str()), nullptr);
}

gboolean Unwatch(gpointer watch) {
  g_bus_unwatch_name(GPOINTER_TO_UINT(watch));
  return G_SOURCE_REMOVE;
}

void OnItemVanished(GDBusConnection*, const gchar* name, gpointer) {
  for (auto item = watcher.items.begin(); item != watcher.items.end(); ++item) {
    if (item->first == name || item->first.rfind(std::string(name) + "/", 0) == 0) {
      // Not unwatched from inside the watch's own callback.
      g_idle_add(&Unwatch, GUINT_TO_POINTER(item->second));
      const std::string service = item->first;
      watcher.items.erase(item);
      Say("unregistered " + service);
      EmitItemSignal("StatusNotifierItemUnregistered", service);
      return;
    }
  }
}

void OnMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  if (g_str_equal(method, "RegisterStatusNotifierItem")) {
    const char* given = nullptr;
    g_variant_get(parameters, "(&s)", &given);
    const std::string service = given[0] == '/' ? std::string(sender) + given : std::string(given);
    const std::string name = given[0] == '/' ? std::string(sender) : service;
    if (watcher.items.find(service) == watcher.items.end()) {
      watcher.items[service] = g_bus_watch_name_on_connection(watcher.bus, name.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                              nullptr, &OnItemVanished, nullptr, nullptr);
    }
    Say("registered " + service + " " + sender);
    EmitItemSignal("StatusNotifierItemRegistered", service);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError**,
                        gpointer) {
  if (g_str_equal(property, "RegisteredStatusNotifierItems")) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const auto& item : watcher.items) g_variant_builder_add(&builder, "s", item.first.c_str());
    return g_variant_builder_end(&builder);
  }
  if (g_str_equal(property, "IsStatusNotifierHostRegistered")) return g_variant_new_boolean(TRUE);
  return g_variant_new_int32(0);  // ProtocolVersion
}

void OnBusAcquired(GDBusConnection* bus, const gchar*, gpointer) {
  watcher.bus = bus;
  static const GDBusInterfaceVTable vtable = {&OnMethodCall, &OnGetProperty, nullptr, {}};
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  GError* error = nullptr;
  if (g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable, nullptr, nullptr,
                                        &error) == 0) {
    std::fprintf(stderr, "fake watcher: %s\n", error->message);
    g_error_free(error);
  }
  g_dbus_node_info_unref(node);
}

void OnNameAcquired(GDBusConnection*, const gchar*, gpointer) {
  watcher.owned = true;
  Say("ready");
}

void OnNameLost(GDBusConnection*, const gchar*, gpointer) {
  std::fprintf(stderr, "fake watcher: %s\n", watcher.owned ? "lost the name" : "cannot own the name");
  watcher.exit_code = 3;
  g_main_loop_quit(watcher.loop);
}

gboolean OnSignal(gpointer) {
  g_main_loop_quit(watcher.loop);
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main() {
  watcher.loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, &OnSignal, nullptr);
  g_unix_signal_add(SIGINT, &OnSignal, nullptr);
  const guint owner = g_bus_own_name(G_BUS_TYPE_SESSION, kWatcherName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                     &OnBusAcquired, &OnNameAcquired, &OnNameLost, nullptr, nullptr);
  g_main_loop_run(watcher.loop);
  for (const auto& item : watcher.items) g_bus_unwatch_name(item.second);
  g_bus_unown_name(owner);
  g_main_loop_unref(watcher.loop);
  return watcher.exit_code;
}
