#include "platform/session_monitor.h"

#include <gio/gio.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace VirelantDesktop::platform {
namespace {

constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kLogindSession = "org.freedesktop.login1.Session";
constexpr const char* kSystemBusSocket = "/run/dbus/system_bus_socket";
constexpr int kLogindCallTimeoutMs = 1000;
constexpr int kBusRoundTripMs = 1000;

// An address we may connect to without side effects. "autolaunch:" would
// start a bus of its own, "disabled:" says there is none.
bool UsableAddress(const char* address) {
  return address != nullptr && address[0] != '\0' && std::strncmp(address, "disabled:", 9) != 0 &&
         std::strstr(address, "autolaunch:") == nullptr;
}

// One bus connection with its signal subscriptions. The connection is a
// private one rather than GLib's shared singleton: the singleton exits the
// process when the bus goes away, and it is cached past changes to the
// environment.
struct BusLink {
  GDBusConnection* connection = nullptr;
  std::vector<guint> subscriptions;
  gulong closedHandler = 0;

  void Subscribe(const char* sender, const char* interface, const char* member, const char* path,
                 GDBusSignalCallback callback, gpointer data) {
    subscriptions.push_back(g_dbus_connection_signal_subscribe(connection, sender, interface, member, path,
                                                               nullptr, G_DBUS_SIGNAL_FLAGS_NONE, callback,
                                                               data, nullptr));
  }

  void Drop() {
    if (connection == nullptr) return;
    for (guint id : subscriptions) g_dbus_connection_signal_unsubscribe(connection, id);
    subscriptions.clear();
    if (closedHandler != 0) g_signal_handler_disconnect(connection, closedHandler);
    closedHandler = 0;
    g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
    g_object_unref(connection);
    connection = nullptr;
  }
};

class LinuxSessionMonitor;

// The context of an asynchronous step on the system bus. It keeps its own
// reference to the cancellable, so a step that finishes after Unregister()
// (or after the monitor is gone) sees the cancellation without touching the
// monitor.
struct PendingStep {
  LinuxSessionMonitor* monitor;
  GCancellable* cancellable;
  bool triedSessionId = false;
};

class LinuxSessionMonitor final : public SessionMonitor {
 public:
  explicit LinuxSessionMonitor(SessionEvents events) : events_(std::move(events)) {}
  ~LinuxSessionMonitor() override { Unregister(); }
  LinuxSessionMonitor(const LinuxSessionMonitor&) = delete;
  LinuxSessionMonitor& operator=(const LinuxSessionMonitor&) = delete;

  bool Register() override {
    if (session_.connection != nullptr) return true;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!UsableAddress(address)) return false;

    GError* error = nullptr;
    session_.connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (session_.connection == nullptr) {
      g_clear_error(&error);
      return false;
    }
    g_dbus_connection_set_exit_on_close(session_.connection, FALSE);
    for (const char* interface : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"})
      session_.Subscribe(nullptr, interface, "ActiveChanged", nullptr, &OnScreenSaverActive, this);
    session_.closedHandler = g_signal_connect(session_.connection, "closed", G_CALLBACK(&OnSessionBusClosed), this);

    // A round trip to the bus: once it answers, it holds our match rules, so
    // no signal sent after Register() returns is missed.
    GVariant* reply =
        g_dbus_connection_call_sync(session_.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                    kBusRoundTripMs, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);

    ConnectSystemBus();
    return true;
  }

  void Unregister() override {
    if (cancellable_ != nullptr) {
      g_cancellable_cancel(cancellable_);
      g_clear_object(&cancellable_);
    }
    system_.Drop();
    session_.Drop();
  }

  bool IsRegistered() const override { return session_.connection != nullptr; }

 private:
  // The callbacks run a copy of the handler: it may destroy the monitor.
  void NotifyLock(bool locked) {
    auto handler = events_.lockChanged;
    if (handler) handler(locked);
  }
  void NotifyEnd() {
    auto handler = events_.endOfSession;
    if (handler) handler();
  }

  // logind is optional and the system bus may be slow or absent, so its
  // set-up runs asynchronously and never holds up the UI thread.
  void ConnectSystemBus() {
    std::string address;
    if (const char* fromEnv = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"); fromEnv != nullptr && fromEnv[0] != '\0') {
      if (!UsableAddress(fromEnv)) return;
      address = fromEnv;
    } else if (g_file_test(kSystemBusSocket, G_FILE_TEST_EXISTS)) {
      address = std::string("unix:path=") + kSystemBusSocket;
    } else {
      return;
    }
    cancellable_ = g_cancellable_new();
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable_, &OnSystemBusConnected, NewStep());
  }

  PendingStep* NewStep() { return new PendingStep{this, G_CANCELLABLE(g_object_ref(cancellable_))}; }

  // Takes ownership of the step; the monitor when it is still wanted.
  static LinuxSessionMonitor* Finish(PendingStep* step) {
    bool cancelled = g_cancellable_is_cancelled(step->cancellable);
    g_object_unref(step->cancellable);
    LinuxSessionMonitor* monitor = cancelled ? nullptr : step->monitor;
    delete step;
    return monitor;
  }

  static void OnSystemBusConnected(GObject*, GAsyncResult* result, gpointer data) {
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, nullptr);
    LinuxSessionMonitor* self = Finish(static_cast<PendingStep*>(data));
    if (self == nullptr || connection == nullptr) {
      if (connection != nullptr) {
        g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
        g_object_unref(connection);
      }
      return;
    }
    self->system_.connection = connection;
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    self->system_.closedHandler = g_signal_connect(connection, "closed", G_CALLBACK(&OnSystemBusClosed), self);
    self->system_.Subscribe(kLogindName, kLogindManager, "PrepareForShutdown", kLogindPath,
                            &OnPrepareForShutdown, self);
    g_dbus_connection_call(connection, kLogindName, kLogindPath, kLogindManager, "GetSessionByPID",
                           g_variant_new("(u)", static_cast<guint32>(getpid())), G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NONE, kLogindCallTimeoutMs, self->cancellable_, &OnSessionFound,
                           self->NewStep());
  }

  static void OnSessionFound(GObject* source, GAsyncResult* result, gpointer data) {
    auto* step = static_cast<PendingStep*>(data);
    const bool triedSessionId = step->triedSessionId;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    LinuxSessionMonitor* self = Finish(step);
    if (self == nullptr || self->system_.connection == nullptr) {
      if (reply != nullptr) g_variant_unref(reply);
      return;
    }
    if (reply == nullptr) {
      // Not in a session scope (a service, say): ask for the session we were
      // started in instead.
      const char* sessionId = std::getenv("XDG_SESSION_ID");
      if (triedSessionId || sessionId == nullptr || sessionId[0] == '\0') return;
      PendingStep* next = self->NewStep();
      next->triedSessionId = true;
      g_dbus_connection_call(self->system_.connection, kLogindName, kLogindPath, kLogindManager, "GetSession",
                             g_variant_new("(s)", sessionId), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                             kLogindCallTimeoutMs, self->cancellable_, &OnSessionFound, next);
      return;
    }
    const char* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    for (const char* member : {"Lock", "Unlock"})
      self->system_.Subscribe(kLogindName, kLogindSession, member, path, &OnSessionLock, self);
    g_variant_unref(reply);
  }

  static void OnScreenSaverActive(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                  GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
    gboolean active = FALSE;
    g_variant_get(parameters, "(b)", &active);
    static_cast<LinuxSessionMonitor*>(data)->NotifyLock(active != FALSE);
  }

  static void OnSessionLock(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member,
                            GVariant*, gpointer data) {
    static_cast<LinuxSessionMonitor*>(data)->NotifyLock(std::strcmp(member, "Lock") == 0);
  }

  static void OnPrepareForShutdown(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                   GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
    gboolean starting = FALSE;
    g_variant_get(parameters, "(b)", &starting);
    if (starting) static_cast<LinuxSessionMonitor*>(data)->NotifyEnd();
  }

  // With the session bus gone the subscriptions are dead: drop everything, so
  // IsRegistered() says so and a later Register() starts over.
  static void OnSessionBusClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<LinuxSessionMonitor*>(data)->Unregister();
  }

  static void OnSystemBusClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<LinuxSessionMonitor*>(data)->system_.Drop();
  }

  SessionEvents events_;
  BusLink session_;
  BusLink system_;
  GCancellable* cancellable_ = nullptr;  // the system bus set-up in flight
};

}  // namespace

std::unique_ptr<SessionMonitor> MakeSessionMonitor(SessionEvents events) {
  return std::make_unique<LinuxSessionMonitor>(std::move(events));
}

}  // namespace VirelantDesktop::platform
