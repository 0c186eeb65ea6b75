// A native component registered by a package, rendered by a React app in a
// real GTK window (scripts/with-desktop.sh): its widget sits on the frame
// React laid out, draws from its props, and its events and commands make
// the round trip through the bundle.
#include "app/window/render_port.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/view_component.h"
#include "host/react_host.h"
#include "platform/gtk_desktop.h"
#include "tests/support/gtk_screen.h"

namespace VirelantDesktop::window {
namespace {

using testing::PumpFor;
using testing::PumpUntil;
using testing::ScreenPixel;

void SaveScreenshot(GtkWidget* widget, const std::string& name) {
  testing::SaveWindowScreenshot(widget, TALVEK_ARTEFACTS, name);
}

// What the swatch component saw, in order.
struct Record {
  std::mutex mutex;  // guards lines and output (console lines arrive on the JS thread)
  std::vector<std::string> lines;
  std::vector<std::string> output;
  GtkWidget* widget = nullptr;  // UI thread only
  int presses = 0;              // UI thread only
  void Add(std::string line) {
    std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
  }
};

// The swatch's state per view: its colour and its emitter.
struct SwatchState {
  uint32_t argb = 0;
  ComponentEventEmitterPtr emitter;
  GtkWidget* area = nullptr;
};

void ConfigureSwatch(IReactViewComponentBuilder& builder, Record& record, host::ReactHost& host) {
  builder.AddNativeProp("color", "Color");
  builder.AddNativeProp("label", "string");
  builder.AddDirectEvent("ping");
  builder.SetMountHandler([&record](IComponentView& view) {
    auto state = std::make_shared<SwatchState>();
    state->area = gtk_drawing_area_new();
    g_signal_connect(state->area, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer data) -> gboolean {
                       const uint32_t argb = static_cast<SwatchState*>(data)->argb;
                       cairo_set_source_rgb(cr, ((argb >> 16) & 0xff) / 255.0, ((argb >> 8) & 0xff) / 255.0,
                                            (argb & 0xff) / 255.0);
                       cairo_paint(cr);
                       return TRUE;
                     }),
                     state.get());
    gtk_widget_add_events(state->area, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(state->area, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                       ++static_cast<Record*>(data)->presses;
                       return TRUE;
                     }),
                     &record);
    gtk_container_add(GTK_CONTAINER(view.NativeParent()), state->area);
    gtk_widget_show(state->area);
    record.widget = state->area;
    view.UserData() = state;
    record.Add("mount");
  });
  builder.SetUpdatePropsHandler([&record](IComponentView& view, const ComponentPropsPtr& now, const ComponentPropsPtr& old) {
    auto state = std::static_pointer_cast<SwatchState>(view.UserData());
    const JSValue& values = static_cast<PlainComponentProps&>(*now).Values();
    // The flattened style (width, height) comes along; the swatch reads its own props.
    JSValue own = JSValue::object();
    for (const char* key : {"color", "label"}) {
      if (values.contains(key)) own[key] = values[key];
    }
    record.Add(std::string(old ? "props " : "first props ") + own.dump() + (values.contains("width") ? " sized" : ""));
    const uint32_t before = state->argb;
    if (values.contains("color") && values["color"].is_number()) state->argb = values["color"].get<uint32_t>();
    gtk_widget_queue_draw(state->area);
    if (old && state->argb != before && state->emitter) {
      state->emitter->DispatchEvent("ping", JSValue{{"count", 2}, {"width", view.LayoutMetrics().frame.width}});
    }
  });
  builder.SetUpdateLayoutMetricsHandler(
      [&record](IComponentView&, const ComponentLayoutMetrics& now, const ComponentLayoutMetrics&) {
        record.Add("layout " + std::to_string(static_cast<int>(now.windowFrame.x)) + "," +
                   std::to_string(static_cast<int>(now.windowFrame.y)) + " " +
                   std::to_string(static_cast<int>(now.frame.width)) + "x" +
                   std::to_string(static_cast<int>(now.frame.height)));
      });
  builder.SetUpdateEventEmitterHandler([&record](IComponentView& view, const ComponentEventEmitterPtr& emitter) {
    auto state = std::static_pointer_cast<SwatchState>(view.UserData());
    state->emitter = emitter;
    record.Add("emitter");
    emitter->DispatchEvent("ping", JSValue{{"count", 1}, {"width", view.LayoutMetrics().frame.width}});
  });
  builder.SetCustomCommandHandler([&record, &host](IComponentView&, const std::string& command, const JSValue& args) {
    record.Add("command " + command + " " + args.dump());
    host.Quit(host::kExitOk);
  });
  builder.SetUnmountHandler([&record](IComponentView&) { record.Add("unmount"); });
}

class SwatchPackage final : public IReactPackageProvider {
 public:
  SwatchPackage(Record& record, host::ReactHost& host) : record_(record), host_(host) {}
  void CreatePackage(IReactPackageBuilder& builder) override {
    auto* fabric = dynamic_cast<IReactPackageBuilderFabric*>(&builder);
    ASSERT_NE(fabric, nullptr);
    fabric->AddViewComponent("TalvekTestSwatch", [this](IReactViewComponentBuilder& view) {
      ConfigureSwatch(view, record_, host_);
    });
  }

 private:
  Record& record_;
  host::ReactHost& host_;
};

bool Said(Record& record, const std::string& line) {
  std::lock_guard lock(record.mutex);
  return std::find(record.output.begin(), record.output.end(), line) != record.output.end();
}

// A host whose console lines go to `record` (kept while it runs).
host::HostOptions RecordingOptions(Record& record) {
  host::HostOptions options;
  options.timeoutMs = 30000;
  options.output = [&record](host::ConsoleStream, std::string_view line) {
    std::lock_guard lock(record.mutex);
    record.output.emplace_back(line);
  };
  return options;
}

void UseBundle(host::ReactHost& host, const std::filesystem::path& bundle) {
  host.InstanceSettings().BundleRootPath = "file://" + bundle.parent_path().string() + "/";
  host.InstanceSettings().JavaScriptBundleFile = bundle.filename().string();
  host.ViewOptions().ComponentName = "VirelantDesktop";
}

// The host's renderer drawn in `window`, as the shell connects them.
std::shared_ptr<RenderPort> AttachPort(host::ReactHost& host, platform::MainWindow& window) {
  auto port = std::make_shared<RenderPort>();
  port->Configure(host.Options(), true);
  port->Attach(window, host);
  host.UpdateDisplay(port->Display());
  return port;
}

TEST(RenderPort, ANativeComponentIsMountedOnItsFrameDrawsItsPropsAndTalksToTheBundle) {
  if (platform::InitGtk() != platform::GtkStart::Ready) GTEST_SKIP() << "no display: run under scripts/with-desktop.sh";
  auto window = platform::MakeGtkWindow({});
  window->SetTitle("TALVEK");
  window->ResizeClient({400, 300});
  window->Show();
  ASSERT_TRUE(PumpUntil([&] { return window->IsVisible(); }));
  PumpFor(std::chrono::milliseconds(200));

  Record record;
  host::ReactHost host(RecordingOptions(record));
  host.InstanceSettings().PackageProviders.push_back(std::make_shared<SwatchPackage>(record, host));
  UseBundle(host, NATIVE_APP_BUNDLE);

  auto port = AttachPort(host, *window);
  const int code = host.Start();
  {
    std::lock_guard lock(record.mutex);
    std::string output;
    for (const auto& line : record.output) output += line + "\n";
    ASSERT_EQ(code, host::kExitOk) << output;
    EXPECT_EQ(record.output, (std::vector<std::string>{"ping 1 width 80", "ping 2 width 80"}));
  }

  // Mounted once, then only the colour changed; the command came last.
  ASSERT_GE(record.lines.size(), 6u);
  EXPECT_EQ(record.lines[0], "mount");
  EXPECT_EQ(record.lines[1], R"(first props {"color":4294901760,"label":"swatch"} sized)");
  EXPECT_EQ(record.lines[2], "layout 30,30 80x50");
  EXPECT_EQ(record.lines[3], "emitter");
  EXPECT_EQ(record.lines[4], R"(props {"color":4278190335,"label":"swatch"} sized)");
  EXPECT_EQ(record.lines.back(), "command finish [2]");

  // What the user sees: the widget on the laid-out frame, blue, on the
  // black the surface drew.
  ASSERT_NE(record.widget, nullptr);
  PumpFor(std::chrono::milliseconds(300));
  GtkAllocation allocation;
  gtk_widget_get_allocation(record.widget, &allocation);
  EXPECT_EQ(allocation.width, 80);
  EXPECT_EQ(allocation.height, 50);
  int x = 0, y = 0;
  gtk_widget_translate_coordinates(record.widget, static_cast<GtkWidget*>(window->ContentHandle()), 0, 0, &x, &y);
  EXPECT_EQ(x, 30);
  EXPECT_EQ(y, 30);
  EXPECT_EQ(ScreenPixel(record.widget, 40, 25), 0x0000ffu);
  EXPECT_EQ(ScreenPixel(record.widget, 90, 25), 0x000000u);  // right of it: the root view's black
  SaveScreenshot(record.widget, "native_component.png");

  // Input over the widget goes to the widget, not to the drawing below.
  int rootX = 0, rootY = 0, inTopX = 0, inTopY = 0;
  gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(record.widget)), &rootX, &rootY);
  gtk_widget_translate_coordinates(record.widget, gtk_widget_get_toplevel(record.widget), 40, 25, &inTopX, &inTopY);
  const std::string click = "xdotool mousemove --sync " + std::to_string(rootX + inTopX) + " " +
                            std::to_string(rootY + inTopY) + " click 1";
  ASSERT_EQ(std::system(click.c_str()), 0) << click;
  EXPECT_TRUE(PumpUntil([&] { return record.presses > 0; })) << "the swatch got no click";

  port->Detach();
  EXPECT_EQ(record.lines.back(), "unmount");
}

// The desktop switches to a dark preference while the app runs: the bundle
// hears of it and what it draws follows.
TEST(RenderPort, AColourSchemeChangeReachesTheRunningAppAndItsPixels) {
  if (platform::InitGtk() != platform::GtkStart::Ready) GTEST_SKIP() << "no display: run under scripts/with-desktop.sh";
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
  auto window = platform::MakeGtkWindow({});
  window->ResizeClient({300, 200});
  window->Show();
  ASSERT_TRUE(PumpUntil([&] { return window->IsVisible(); }));

  Record record;
  host::ReactHost host(RecordingOptions(record));
  UseBundle(host, SCHEME_APP_BUNDLE);
  auto port = AttachPort(host, *window);

  // Watches from the UI loop Start() runs: light drawn, switch, dark drawn.
  struct Watch {
    Record* record;
    host::ReactHost* host;
    GtkWidget* content;
    GtkSettings* settings;
    int step = 0;
    int polls = 0;
    uint32_t light = 0, dark = 0;
  } watch{&record, &host, static_cast<GtkWidget*>(window->ContentHandle()), settings};
  g_timeout_add(50, +[](gpointer data) -> gboolean {
    auto* w = static_cast<Watch*>(data);
    ++w->polls;
    if (w->step == 0 && Said(*w->record, "scheme light") && w->polls > 6) {
      w->light = ScreenPixel(w->content, 150, 100);
      g_object_set(w->settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
      w->step = 1;
      w->polls = 0;
    } else if (w->step == 1 && Said(*w->record, "scheme dark") && w->polls > 6) {
      w->dark = ScreenPixel(w->content, 150, 100);
      w->host->Quit(host::kExitOk);
      return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
  }, &watch);
  const int code = host.Start();
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
  port->Detach();
  ASSERT_EQ(code, host::kExitOk) << "timed out at step " << watch.step;
  EXPECT_EQ(watch.light, 0xf0e0d0u);
  EXPECT_EQ(watch.dark, 0x102030u);
}

}  // namespace
}  // namespace VirelantDesktop::window
