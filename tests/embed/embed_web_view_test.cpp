// An embed view on the real web engine in a real window
// (scripts/with-desktop.sh), with a local HTTPS server standing in for the
// video provider (reached through a test proxy, its certificate accepted
// for the provider's host in this test only). The stand-in page asks for
// the camera, tries to take the whole view elsewhere by script and offers a
// link to the provider: it shows yellow until its camera request is denied,
// then green; red if the request were granted.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "embed/embed_profile.h"
#include "embed/embed_view.h"
#include "talvek/fixed_values.h"
#include "platform/gtk_desktop.h"
#include "platform/shared_library.h"
#include "tests/support/connect_proxy.h"
#include "tests/support/gtk_screen.h"
#include "tests/support/https_test_server.h"

namespace VirelantDesktop::Embed {
namespace {

namespace fs = std::filesystem;
constexpr const char* kId = "dQw4w9WgXcQ";

using testing::PumpFor;
using testing::PumpUntil;
using testing::ScreenPixel;

// Long enough for a web page on a busy machine.
constexpr auto kPageTimeout = std::chrono::seconds(15);

// A provider page (the second provider host is the video site's own).
std::string ProviderHost() { return fixed::kProviderHosts[1]; }
std::string WatchUrl() { return "https://" + ProviderHost() + "/watch?v=" + kId; }

std::string StandInPage() {
  return "<!doctype html><html><body style=\"margin:0;background:#ffff00\">"
         "<a id=out href=\"" + WatchUrl() + "\" target=\"_top\" "
         "style=\"display:block;position:fixed;left:0;top:0;width:100%;height:100%\"></a>"
         "<script>"
         "const paint = (c) => { document.body.style.background = c; };"
         "navigator.mediaDevices.getUserMedia({video: true}).then(() => paint('#ff0000'), () => paint('#00ff00'))"
         "  .finally(() => setTimeout(() => {"
         "    try { top.location.href = 'https://" + std::string(fixed::kVideoEmbedHost) + "/away'; } catch (e) {}"
         "    try { window.open('https://" + std::string(fixed::kVideoEmbedHost) + "/popup'); } catch (e) {}"
         "    const file = document.createElement('a'); file.href = '/file.bin'; file.download = 'file.bin';"
         "    document.body.appendChild(file); file.click();"
         "  }, 50));"
         "</script></body></html>";
}

// The parent of process `pid`; 0 when unknown.
pid_t ParentOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("PPid:", 0) == 0) return static_cast<pid_t>(std::stol(line.substr(5)));
  }
  return 0;
}

// Kills this process's web content processes; how many.
int KillOwnWebProcesses() {
  int killed = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream commFile(entry.path() / "comm");
    std::string comm;
    std::getline(commFile, comm);
    if (comm.rfind("WebKitWebProces", 0) != 0) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    for (pid_t up = ParentOf(pid); up > 1; up = ParentOf(up)) {
      if (up == getpid()) {
        if (kill(pid, SIGKILL) == 0) ++killed;
        break;
      }
    }
  }
  return killed;
}

std::shared_ptr<platform::WebEngine> LoadEngine() {
  auto library = platform::SharedLibrary::Load(WEBKIT_ENGINE_LIBRARY);
  if (!library) return nullptr;
  auto create = reinterpret_cast<platform::WebEngineEntryPoint>(library->Find(platform::kWebEngineEntryPoint));
  if (create == nullptr) return nullptr;
  return std::shared_ptr<platform::WebEngine>(create(), [library](platform::WebEngine* engine) { delete engine; });
}

TEST(EmbedWebView, TheProviderPageLoadsKeepsItsPlaceAndSendsTheUserOutside) {
  if (platform::InitGtk() != platform::GtkStart::Ready) GTEST_SKIP() << "no display: run under scripts/with-desktop.sh";
  std::shared_ptr<platform::WebEngine> engine = LoadEngine();
  ASSERT_NE(engine, nullptr) << "cannot load " << WEBKIT_ENGINE_LIBRARY;

  // The stand-in provider.
  testing::HttpsTestServer server;
  std::mutex mutex;  // guards paths (the server's threads)
  std::vector<std::string> paths;
  server.Server().Get(R"(/.*)", [&](const httplib::Request& request, httplib::Response& response) {
    {
      std::lock_guard lock(mutex);
      paths.push_back(request.path);
    }
    if (request.path == std::string("/embed/") + kId) {
      response.set_content(StandInPage(), "text/html");
    } else if (request.path == "/file.bin") {
      response.set_header("Content-Disposition", "attachment; filename=file.bin");
      response.set_content(std::string(4096, 'x'), "application/octet-stream");
    } else {
      response.status = 404;
    }
  });
  server.Start();
  testing::ConnectProxy proxy(server.Port());
  proxy.Start();
  engine->UseTestNetwork(proxy.Url(), testing::HttpsTestServer::CertFile(), {fixed::kVideoEmbedHost, ProviderHost()});

  EmbedViews::ResetForTesting();
  EmbedProfile::ResetForTesting();
  EmbedViews::Get().SetEngineLoader([engine] { return engine; });

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "embed test");
  GtkWidget* box = gtk_event_box_new();
  gtk_widget_set_size_request(box, 320, 180);
  gtk_container_add(GTK_CONTAINER(window), box);
  gtk_widget_show_all(window);
  ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(box); }));

  std::vector<std::string> events;
  auto view = std::make_unique<EmbedView>(box);
  view->SetEmitter([&](const std::string& name, JSValue payload) { events.push_back(name + " " + payload.dump()); });
  view->UpdateProps([] {
    TalvekEmbedProps props;
    props.vid = kId;
    return props;
  }());
  ASSERT_TRUE(view->HasWebView());
  ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }, kPageTimeout)) << "no state";
  EXPECT_EQ(events[0], R"(embedState {"reason":"","state":"ready"})");

  // The provider's page shows in the frame: its camera request was denied.
  EXPECT_TRUE(PumpUntil([&] { return ScreenPixel(box, 160, 90) == 0x00ff00u; }, kPageTimeout))
      << "the stand-in page never turned green: " << std::hex << ScreenPixel(box, 160, 90);
  // Its script's attempt to take the view elsewhere came to nothing.
  PumpFor(std::chrono::milliseconds(700));
  EXPECT_EQ(ScreenPixel(box, 160, 90), 0x00ff00u) << "the view left the page";
  // No window of its own and no file from the page's download.
  GList* toplevels = gtk_window_list_toplevels();
  int windows = 0;
  for (GList* item = toplevels; item != nullptr; item = item->next) {
    if (gtk_window_get_window_type(GTK_WINDOW(item->data)) == GTK_WINDOW_TOPLEVEL) ++windows;
  }
  g_list_free(toplevels);
  EXPECT_EQ(windows, 1);
  for (const char* folder : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
    const char* root = std::getenv(folder);
    if (root == nullptr) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied)) {
      EXPECT_EQ(entry.path().filename().string().find("file.bin"), std::string::npos) << entry.path();
    }
  }
  testing::SaveWindowScreenshot(box, TALVEK_ARTEFACTS, "embed_loaded.png");
  {
    std::lock_guard lock(mutex);
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/file.bin"), paths.end()) << "the page's download was tried";
  }

  // The user's click on the provider's link: handed out, the view stays.
  int rootX = 0, rootY = 0, inTopX = 0, inTopY = 0;
  gdk_window_get_origin(gtk_widget_get_window(window), &rootX, &rootY);
  gtk_widget_translate_coordinates(box, window, 160, 90, &inTopX, &inTopY);
  const std::string click = "xdotool mousemove --sync " + std::to_string(rootX + inTopX) + " " +
                            std::to_string(rootY + inTopY) + " click 1";
  ASSERT_EQ(std::system(click.c_str()), 0);
  const std::string external = "embedExternal {\"url\":\"" + WatchUrl() + "\"}";
  EXPECT_TRUE(PumpUntil([&] { return events.back() == external; })) << events.back();
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(ScreenPixel(box, 160, 90), 0x00ff00u);
  EXPECT_EQ(events.size(), 2u) << "nothing but ready and the external link so far";

  // The page's process dies: the view says so and the rest carries on.
  ASSERT_GT(KillOwnWebProcesses(), 0) << "no web process to end";
  EXPECT_TRUE(PumpUntil([&] { return events.back() == R"(embedState {"reason":"process-gone","state":"failed"})"; }))
      << events.back();

  // The exit path: the view goes, then the profile.
  const std::string profile = EmbedProfile::Get().EnsureCreated();
  ASSERT_FALSE(profile.empty());
  EXPECT_TRUE(EmbedViews::Get().Shutdown(2500));
  EXPECT_FALSE(view->HasWebView());
  EXPECT_FALSE(fs::exists(profile));
  view.reset();
  gtk_widget_destroy(window);
  PumpFor(std::chrono::milliseconds(100));
  EmbedViews::ResetForTesting();
  EmbedProfile::ResetForTesting();
}

}  // namespace
}  // namespace VirelantDesktop::Embed
