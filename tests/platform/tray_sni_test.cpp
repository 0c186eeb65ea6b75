#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <glib-unix.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/tray.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kItem = "org.kde.StatusNotifierItem";
constexpr const char* kMenu = "com.canonical.dbusmenu";

struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

std::string Print(const Variant& value) {
  if (!value) return "<none>";
  gchar* text = g_variant_print(value.get(), FALSE);
  std::string result = text;
  g_free(text);
  return result;
}

std::string ItemName() { return "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1"; }

// The watcher's report of our item, sent from the process's shared bus connection.
std::string Registered() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  std::string line = "registered " + ItemName() + " " + g_dbus_connection_get_unique_name(bus);
  g_object_unref(bus);
  return line;
}

// Runs the default main context, the one the tray lives on, until `done`.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  const gint64 deadline = g_get_monotonic_time() + gint64{timeout_ms} * 1000;
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool met = done();
  while (!met && g_get_monotonic_time() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    met = done();
  }
  g_source_remove(tick);
  return met;
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// The fake watcher as a child process, with the lines it reported so far.
class FakeWatcher {
 public:
  ~FakeWatcher() { Stop(); }

  bool Start() {
    reported_ = "\n";
    char* argv[] = {const_cast<char*>(TALVEK_TEST_SNI_WATCHER), nullptr};
    if (!g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_, nullptr,
                                  &out_, nullptr, nullptr)) {
      return false;
    }
    g_unix_set_fd_nonblocking(out_, TRUE, nullptr);
    return WaitFor("ready");
  }

  void Stop() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    g_spawn_close_pid(pid_);
    close(out_);
    pid_ = 0;
  }

  // Runs the context until the watcher has reported `line`.
  bool WaitFor(const std::string& line) {
    return PumpUntil([&] {
      char buffer[512];
      for (ssize_t got; (got = read(out_, buffer, sizeof buffer)) > 0;) reported_.append(buffer, size_t(got));
      return reported_.find("\n" + line + "\n") != std::string::npos;
    });
  }

 private:
  GPid pid_ = 0;
  int out_ = -1;
  std::string reported_;
};

// EventGroup's arguments.
GVariant* Events(std::initializer_list<std::pair<gint32, const char*>> events) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(isvu)"));
  for (const auto& [id, what] : events) g_variant_builder_add(&builder, "(isvu)", id, what, g_variant_new_int32(0), 0u);
  return g_variant_new("(@a(isvu))", g_variant_builder_end(&builder));
}

void WritePng(const std::string& path, int width, int height, bool alpha, guint32 rgba) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height);
  gdk_pixbuf_fill(pixbuf, rgba);
  EXPECT_TRUE(gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr)) << path;
  g_object_unref(pixbuf);
}

class StatusNotifierTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Calls come from a connection of their own, as a tray host's would.
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(address, nullptr) << "no session bus: run under scripts/with-session-bus.sh";
    const auto flags = GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    peer_ = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
    g_free(address);
    ASSERT_NE(peer_, nullptr);
  }

  void TearDown() override {
    tray_.reset();
    if (peer_ != nullptr) StopWatcher();
    if (peer_ != nullptr) g_object_unref(peer_);
  }

  // Stops the watcher and waits for the bus to notice, so the next one can own the name.
  void StopWatcher() {
    watcher_.Stop();
    EXPECT_TRUE(PumpUntil([&] { return !HasOwner(kWatcherName); }));
  }

  void MakeTray(std::vector<std::string> icons = {}) {
    TrayEvents events;
    events.activated = [this] { ++activated_; };
    events.menuRequested = [this] { ++menu_requested_; };
    events.hostAppeared = [this] { ++host_appeared_; };
    events.command = [this](int command) {
      commands_.push_back(command);
      if (on_command_) on_command_();
    };
    tray_ = MakeStatusNotifierTray({"talvek", "TALVEK", std::move(icons), {{40001, "Open TALVEK"}, {40002, "Quit"}}},
                                   std::move(events));
  }

  // Calls asynchronously and runs the context meanwhile: the tray answers on this thread.
  Variant Call(const std::string& destination, const char* path, const char* interface, const char* method,
               GVariant* args, std::string* error_name = nullptr) {
    struct Outcome {
      bool done = false;
      GVariant* value = nullptr;
      GError* error = nullptr;
    } outcome;
    g_dbus_connection_call(
        peer_, destination.c_str(), path, interface, method, args, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* out = static_cast<Outcome*>(data);
          out->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &out->error);
          out->done = true;
        },
        &outcome);
    while (!outcome.done) g_main_context_iteration(nullptr, TRUE);  // ends: the call has a timeout
    if (outcome.error != nullptr) {
      gchar* remote = g_dbus_error_get_remote_error(outcome.error);
      if (error_name != nullptr) *error_name = remote != nullptr ? remote : "";
      EXPECT_NE(error_name, nullptr) << method << ": " << outcome.error->message;
      g_free(remote);
      g_error_free(outcome.error);
    }
    return Variant(outcome.value);
  }

  Variant Property(const char* path, const char* interface, const char* name) {
    Variant reply =
        Call(ItemName(), path, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", interface, name));
    if (!reply) return nullptr;
    Variant boxed(g_variant_get_child_value(reply.get(), 0));
    return Variant(g_variant_get_variant(boxed.get()));
  }

  bool HasOwner(const std::string& name) {
    return Print(Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                      g_variant_new("(s)", name.c_str()))) == "(true,)";
  }

  Variant MenuCall(const char* method, GVariant* args, std::string* error_name = nullptr) {
    return Call(ItemName(), "/MenuBar", kMenu, method, args, error_name);
  }

  // A tray shown by a fresh fake watcher.
  void AddWithWatcher() {
    ASSERT_TRUE(watcher_.Start());
    MakeTray();
    ASSERT_TRUE(tray_->Add());
  }

  GDBusConnection* peer_ = nullptr;
  FakeWatcher watcher_;
  std::unique_ptr<Tray> tray_;
  int activated_ = 0;
  int menu_requested_ = 0;
  int host_appeared_ = 0;
  std::vector<int> commands_;
  std::function<void()> on_command_;
};

TEST_F(StatusNotifierTrayTest, WithoutAWatcherAddFailsAndLeavesNothingOnTheBus) {
  MakeTray();
  EXPECT_FALSE(tray_->Add());
  EXPECT_FALSE(HasOwner(ItemName()));
  tray_->Remove();
  tray_->Remove();
}

TEST_F(StatusNotifierTrayTest, RegistersUnderItsNameAndServesItsProperties) {
  testing::TempDir dir;
  WritePng(dir.Join("16.png"), 16, 16, true, 0x11223344);
  WritePng(dir.Join("5x3.png"), 5, 3, false, 0xAABBCCFF);  // rows padded to 16 bytes
  testing::WriteTextFile(dir.Join("broken.png"), "not a picture");
  ASSERT_TRUE(watcher_.Start());
  MakeTray({dir.Join("16.png"), dir.Join("broken.png"), dir.Join("absent.png"), dir.Join("5x3.png")});
  ASSERT_TRUE(tray_->Add());
  EXPECT_TRUE(watcher_.WaitFor(Registered()));

  const auto item = [&](const char* name) { return Print(Property("/StatusNotifierItem", kItem, name)); };
  EXPECT_EQ(item("Id"), "'talvek'");
  EXPECT_EQ(item("Title"), "'TALVEK'");
  EXPECT_EQ(item("Status"), "'Active'");
  EXPECT_EQ(item("Category"), "'ApplicationStatus'");
  EXPECT_EQ(item("ItemIsMenu"), "false");
  EXPECT_EQ(item("Menu"), "'/MenuBar'");
  EXPECT_EQ(item("ToolTip"), "('', [], 'TALVEK', '')");
  EXPECT_EQ(Print(Property("/MenuBar", kMenu, "Version")), "3");

  // ARGB in network order, whatever the file's channels and row padding.
  Variant pixmaps = Property("/StatusNotifierItem", kItem, "IconPixmap");
  ASSERT_TRUE(pixmaps);
  ASSERT_EQ(g_variant_n_children(pixmaps.get()), 2u);
  const std::tuple<int, int, std::string> expected[] = {{16, 16, "\x44\x11\x22\x33"}, {5, 3, "\xFF\xAA\xBB\xCC"}};
  for (gsize i = 0; i < 2; ++i) {
    const auto& [width, height, pixel] = expected[i];
    gint32 got_width = 0, got_height = 0;
    GVariant* data = nullptr;
    g_variant_get_child(pixmaps.get(), i, "(ii@ay)", &got_width, &got_height, &data);
    gsize size = 0;
    const char* bytes = static_cast<const char*>(g_variant_get_fixed_array(data, &size, 1));
    std::string all;
    for (int p = 0; p < width * height; ++p) all += pixel;
    EXPECT_EQ(got_width, width);
    EXPECT_EQ(got_height, height);
    EXPECT_EQ(std::string(bytes, size), all) << "image " << i;
    g_variant_unref(data);
  }
}

TEST_F(StatusNotifierTrayTest, TheMenuLayoutHasOneItemPerEntryWithItsCommandAsId) {
  AddWithWatcher();
  const auto item = [](const char* id, const char* label) {
    return std::string("<(") + id + ", {'type': <'standard'>, 'label': <'" + label +
           "'>, 'enabled': <true>, 'visible': <true>}, @av [])>";
  };
  EXPECT_EQ(Print(MenuCall("GetLayout", g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)))),
            "(1, (0, {'children-display': <'submenu'>}, [" + item("40001", "Open TALVEK") + ", " +
                item("40002", "Quit") + "]))");

  // One item, only the property asked for; depth 0 stops at the root.
  const char* label_only[] = {"label", nullptr};
  EXPECT_EQ(Print(MenuCall("GetLayout", g_variant_new("(ii^as)", 40002, -1, label_only))),
            "(1, (40002, {'label': <'Quit'>}, []))");
  EXPECT_EQ(Print(MenuCall("GetLayout", g_variant_new("(ii^as)", 0, 0, label_only))), "(1, (0, {}, []))");
  const gint32 ids[] = {40001, 7};
  EXPECT_EQ(Print(MenuCall(
                "GetGroupProperties",
                g_variant_new("(@ai^as)", g_variant_new_fixed_array(G_VARIANT_TYPE_INT32, ids, 2, 4), label_only))),
            "([(40001, {'label': <'Open TALVEK'>})],)");
  EXPECT_EQ(Print(MenuCall("GetProperty", g_variant_new("(is)", 40001, "enabled"))), "(<true>,)");
  std::string error;
  EXPECT_FALSE(MenuCall("GetLayout", g_variant_new("(ii^as)", 7, -1, label_only), &error));
  EXPECT_EQ(error, "org.freedesktop.DBus.Error.InvalidArgs");
}

TEST_F(StatusNotifierTrayTest, ClicksAndActivationsReachTheEvents) {
  AddWithWatcher();
  MenuCall("Event", g_variant_new("(isvu)", 40002, "clicked", g_variant_new_int32(0), 0u));
  std::string error;
  EXPECT_FALSE(MenuCall("Event", g_variant_new("(isvu)", 7, "clicked", g_variant_new_int32(0), 0u), &error));
  EXPECT_EQ(error, "org.freedesktop.DBus.Error.InvalidArgs");
  // Only clicks on items count; unknown ids come back.
  EXPECT_EQ(
      Print(MenuCall("EventGroup", Events({{40001, "hovered"}, {0, "opened"}, {9, "clicked"}, {40001, "clicked"}}))),
      "([9],)");
  EXPECT_TRUE(PumpUntil([&] { return commands_.size() == 2; }));
  EXPECT_EQ(commands_, (std::vector<int>{40002, 40001}));

  const auto item = [&](const char* method, GVariant* args) {
    Call(ItemName(), "/StatusNotifierItem", kItem, method, args);
  };
  item("Activate", g_variant_new("(ii)", 10, 20));
  item("SecondaryActivate", g_variant_new("(ii)", 10, 20));
  item("ContextMenu", g_variant_new("(ii)", 10, 20));
  item("Scroll", g_variant_new("(is)", 1, "vertical"));
  PumpFor(50);
  EXPECT_EQ(activated_, 2);
  EXPECT_EQ(menu_requested_, 1);
  EXPECT_EQ(commands_.size(), 2u);
}

TEST_F(StatusNotifierTrayTest, ANewWatcherIsReportedAndRemoveDropsTheItem) {
  AddWithWatcher();
  ASSERT_TRUE(watcher_.WaitFor(Registered()));
  PumpFor(200);
  EXPECT_EQ(host_appeared_, 0) << "the watcher the item is registered with is no news";

  StopWatcher();
  ASSERT_TRUE(watcher_.Start());
  EXPECT_TRUE(PumpUntil([&] { return host_appeared_ == 1; }));
  ASSERT_TRUE(tray_->Add());
  EXPECT_TRUE(watcher_.WaitFor(Registered()));

  tray_->Remove();
  EXPECT_TRUE(watcher_.WaitFor("unregistered " + ItemName()));
  EXPECT_FALSE(HasOwner(ItemName()));
  EXPECT_TRUE(tray_->Add()) << "a removed item can come back";
  PumpFor(100);
  EXPECT_EQ(host_appeared_, 1);
}

TEST_F(StatusNotifierTrayTest, ACommandHandlerMayRemoveAndDestroyTheTray) {
  AddWithWatcher();
  on_command_ = [this] {
    tray_->Remove();
    tray_.reset();
  };
  MenuCall("EventGroup", Events({{40002, "clicked"}, {40001, "clicked"}}));
  EXPECT_TRUE(watcher_.WaitFor("unregistered " + ItemName()));
  PumpFor(100);
  EXPECT_EQ(tray_, nullptr);
  EXPECT_EQ(commands_, std::vector<int>{40002}) << "nothing is reported for a tray that is gone";
}

}  // namespace
}  // namespace VirelantDesktop::platform
