// The session monitor against the suite's private session bus. The tests
// send the screen saver's signals themselves and, standing in for logind,
// serve the session lookup with the same bus posing as the system bus.
#include "platform/session_monitor.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace VirelantDesktop::platform {
namespace {

using namespace std::chrono_literals;

// Runs the default main context until `done` holds or the budget is spent.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds budget = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char* value) {
    if (value != nullptr)
      setenv(name_, value, 1);
    else
      unsetenv(name_);
  }

  const char* name_;
  std::optional<std::string> old_;
};

class SessionMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(peer_, nullptr);
  }
  void TearDown() override { g_object_unref(peer_); }

  std::unique_ptr<SessionMonitor> Make(std::vector<bool>& locks, int* ends = nullptr) {
    return MakeSessionMonitor({.lockChanged = [&locks](bool locked) { locks.push_back(locked); },
                               .endOfSession = [ends] {
                                 if (ends != nullptr) ++*ends;
                               }});
  }

  void Emit(const char* path, const char* interface, const char* member, GVariant* args) {
    ASSERT_TRUE(g_dbus_connection_emit_signal(peer_, nullptr, path, interface, member, args, nullptr));
    g_dbus_connection_flush_sync(peer_, nullptr, nullptr);
  }
  void ScreenSaver(bool active, const char* interface = "org.freedesktop.ScreenSaver",
                   const char* path = "/org/freedesktop/ScreenSaver") {
    Emit(path, interface, "ActiveChanged", g_variant_new("(b)", active));
  }

  bool BusCall(const char* member, GVariant* args) {
    GVariant* reply = g_dbus_connection_call_sync(peer_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", member, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
    return reply != nullptr;
  }

  GDBusConnection* peer_ = nullptr;
};

TEST_F(SessionMonitorTest, ScreenSaverSignalsOfEitherInterfaceReportTheLock) {
  std::vector<bool> locks;
  auto monitor = Make(locks);
  ASSERT_TRUE(monitor->Register());
  ASSERT_TRUE(monitor->Register());  // no second set of subscriptions
  EXPECT_TRUE(monitor->IsRegistered());

  ScreenSaver(true);
  Emit("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", g_variant_new("(s)", "x"));
  ScreenSaver(false, "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver");
  ScreenSaver(true, "org.freedesktop.ScreenSaver", "/ScreenSaver");
  ASSERT_TRUE(PumpUntil([&] { return locks.size() >= 3; }));
  EXPECT_EQ(locks, (std::vector<bool>{true, false, true}));
}

TEST_F(SessionMonitorTest, NothingArrivesAfterUnregisterUntilRegisteredAgain) {
  std::vector<bool> locks, witness;
  auto monitor = Make(locks);
  auto control = Make(witness);
  ASSERT_TRUE(monitor->Register());
  ASSERT_TRUE(control->Register());
  monitor->Unregister();
  monitor->Unregister();
  EXPECT_FALSE(monitor->IsRegistered());

  ScreenSaver(true);
  ASSERT_TRUE(PumpUntil([&] { return witness.size() == 1; }));
  EXPECT_TRUE(locks.empty());

  ASSERT_TRUE(monitor->Register());
  ScreenSaver(false);
  ASSERT_TRUE(PumpUntil([&] { return locks.size() == 1; }));
  EXPECT_FALSE(locks[0]);
}

TEST_F(SessionMonitorTest, HandlerMayDestroyTheMonitor) {
  std::vector<bool> witness;
  int calls = 0;
  std::unique_ptr<SessionMonitor> monitor;
  SessionEvents events;
  events.lockChanged = [&](bool) {
    ++calls;
    monitor.reset();
  };
  monitor = MakeSessionMonitor(std::move(events));
  auto control = Make(witness);
  ASSERT_TRUE(monitor->Register());
  ASSERT_TRUE(control->Register());

  ScreenSaver(true);
  ScreenSaver(false);
  ASSERT_TRUE(PumpUntil([&] { return witness.size() == 2; }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(monitor, nullptr);
}

TEST_F(SessionMonitorTest, NoSessionBusMeansNoRegistrationAndNoAutolaunch) {
  for (const char* address : {static_cast<const char*>(nullptr), "disabled:", "autolaunch:"}) {
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address);
    std::vector<bool> locks;
    auto monitor = Make(locks);
    EXPECT_FALSE(monitor->Register()) << (address ? address : "(unset)");
    EXPECT_FALSE(monitor->IsRegistered());
    monitor->Unregister();
  }
}

// logind on the system bus: this process's session locks and unlocks, and
// the machine announces its shutdown.
TEST_F(SessionMonitorTest, LogindReportsOwnSessionLockAndShutdown) {
  static constexpr const char* kSession = "/org/freedesktop/login1/session/_31";
  ScopedEnv systemBus("DBUS_SYSTEM_BUS_ADDRESS", std::getenv("DBUS_SESSION_BUS_ADDRESS"));

  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.freedesktop.login1.Manager'><method name='GetSessionByPID'>"
      "<arg type='u' direction='in'/><arg type='o' direction='out'/></method></interface></node>",
      nullptr);
  // The lookup drops `gone` before answering it: the late answer must not
  // reach a destroyed monitor.
  std::unique_ptr<SessionMonitor> gone;
  const GDBusInterfaceVTable vtable{[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                       GVariant*, GDBusMethodInvocation* call, gpointer monitor) {
                                      static_cast<std::unique_ptr<SessionMonitor>*>(monitor)->reset();
                                      g_dbus_method_invocation_return_value(call, g_variant_new("(o)", kSession));
                                    },
                                    nullptr, nullptr, {}};
  guint object = g_dbus_connection_register_object(peer_, "/org/freedesktop/login1", node->interfaces[0], &vtable,
                                                   &gone, nullptr, nullptr);
  ASSERT_TRUE(BusCall("RequestName", g_variant_new("(su)", "org.freedesktop.login1", 4u)));  // do not queue
  std::vector<bool> locks;
  int ends = 0;
  gone = Make(locks, &ends);
  ASSERT_TRUE(gone->Register());
  auto monitor = Make(locks, &ends);
  ASSERT_TRUE(monitor->Register());

  // The session's subscriptions follow the asynchronous lookup: lock until
  // the monitor hears it.
  ASSERT_TRUE(PumpUntil([&] {
    Emit(kSession, "org.freedesktop.login1.Session", "Lock", nullptr);
    return PumpUntil([&] { return !locks.empty(); }, 50ms);
  }));
  Emit("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForShutdown", g_variant_new("(b)", FALSE));
  Emit("/org/freedesktop/login1/session/_32", "org.freedesktop.login1.Session", "Unlock", nullptr);
  Emit(kSession, "org.freedesktop.login1.Session", "Unlock", nullptr);
  ASSERT_TRUE(PumpUntil([&] { return !locks.back(); }));
  EXPECT_EQ(std::count(locks.begin(), locks.end(), false), 1);
  EXPECT_EQ(ends, 0);

  Emit("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForShutdown", g_variant_new("(b)", TRUE));
  EXPECT_TRUE(PumpUntil([&] { return ends == 1; }));
  EXPECT_EQ(gone, nullptr);

  monitor.reset();
  BusCall("ReleaseName", g_variant_new("(s)", "org.freedesktop.login1"));
  g_dbus_connection_unregister_object(peer_, object);
  g_dbus_node_info_unref(node);
}

}  // namespace
}  // namespace VirelantDesktop::platform
