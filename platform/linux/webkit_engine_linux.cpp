// The web engine on WebKitGTK 4.1, built as the library the shell loads
// beside itself (libtalvek-webkit.so). One web context per environment, on
// an ephemeral data manager whose folders sit inside the environment's
// folder; views with developer tools, context menu, swipe navigation and
// sound off, that open no windows, grant no permission and download
// nothing. Every decision about a URL goes to the owner's hooks.
//
// UI thread only (WebKitGTK's main thread is the thread running GTK).
#include <webkit2/webkit2.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/web_engine.h"

namespace VirelantDesktop::platform {
namespace {

class WebKitView final : public WebView {
 public:
  WebKitView(WebKitWebContext* context, GtkContainer* parent, WebViewHooks hooks) : hooks_(std::move(hooks)) {
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_enable_html5_database(settings, FALSE);
    webkit_settings_set_enable_html5_local_storage(settings, FALSE);
    webkit_settings_set_zoom_text_only(settings, FALSE);
    view_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings", settings, nullptr));
    g_object_unref(settings);
    g_object_ref_sink(view_);
    WebKitWebView* web = WEBKIT_WEB_VIEW(view_);
    webkit_web_view_set_is_muted(web, TRUE);
    g_signal_connect(web, "decide-policy", G_CALLBACK(&WebKitView::OnDecidePolicy), this);
    g_signal_connect(web, "create", G_CALLBACK(&WebKitView::OnCreate), this);
    g_signal_connect(web, "permission-request", G_CALLBACK(&WebKitView::OnPermission), this);
    g_signal_connect(web, "context-menu", G_CALLBACK(&WebKitView::OnContextMenu), this);
    g_signal_connect(web, "load-changed", G_CALLBACK(&WebKitView::OnLoadChanged), this);
    g_signal_connect(web, "load-failed", G_CALLBACK(&WebKitView::OnLoadFailed), this);
    g_signal_connect(web, "web-process-terminated", G_CALLBACK(&WebKitView::OnTerminated), this);
    g_signal_connect(web, "enter-fullscreen", G_CALLBACK(&WebKitView::OnFullscreen), this);
    // No zooming (a touchpad's pinch would): the page keeps its scale.
    g_signal_connect(web, "notify::zoom-level", G_CALLBACK(&WebKitView::OnZoom), this);
    gtk_widget_set_hexpand(view_, TRUE);
    gtk_widget_set_vexpand(view_, TRUE);
    gtk_container_add(parent, view_);
    gtk_widget_show(view_);
  }

  ~WebKitView() override {
    g_signal_handlers_disconnect_by_data(view_, this);
    webkit_web_view_try_close(WEBKIT_WEB_VIEW(view_));
    if (GtkWidget* parent = gtk_widget_get_parent(view_)) gtk_container_remove(GTK_CONTAINER(parent), view_);
    gtk_widget_destroy(view_);
    g_object_unref(view_);
  }

  void LoadPage(const std::string& html, const std::string& baseUri) override {
    GBytes* bytes = g_bytes_new(html.data(), html.size());
    webkit_web_view_load_bytes(WEBKIT_WEB_VIEW(view_), bytes, "text/html", "utf-8", baseUri.c_str());
    g_bytes_unref(bytes);
  }

 private:
  bool Ask(WebNavigation::Kind kind, const char* uri, bool userGesture) {
    if (!hooks_.allow) return false;
    return hooks_.allow(WebNavigation{kind, uri != nullptr ? uri : "", userGesture});
  }

  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
    auto* self = static_cast<WebKitView*>(data);
    bool allow = false;
    switch (type) {
      case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const char* uri = webkit_uri_request_get_uri(request);
        const char* target = webkit_navigation_action_get_frame_name(action);
        // WebKit does not say which frame navigates. The first navigation
        // is the page's own load, a link aimed at the top or the parent is
        // the page too; the rest is taken for a frame. The response check
        // below keeps the main frame on the page whatever was guessed here.
        const bool aimedAtTop =
            target != nullptr && (std::strcmp(target, "_top") == 0 || std::strcmp(target, "_parent") == 0);
        const bool first = !self->pageRequested_;
        self->pageRequested_ = true;
        const WebNavigation::Kind kind =
            aimedAtTop || first ? WebNavigation::Kind::TopLevel : WebNavigation::Kind::Frame;
        const bool gesture = webkit_navigation_action_is_user_gesture(action);
        if (uri != nullptr) self->RememberGesture(uri, gesture);
        allow = self->Ask(kind, uri, gesture);
        break;
      }
      case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        self->Ask(WebNavigation::Kind::NewWindow, uri, webkit_navigation_action_is_user_gesture(action));
        allow = false;  // never a window of its own
        break;
      }
      case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
          allow = false;  // would be a download
        } else if (webkit_response_policy_decision_is_main_frame_main_resource(response)) {
          const char* uri = webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(response));
          allow = self->Ask(WebNavigation::Kind::MainResponse, uri, uri != nullptr && self->WasGesture(uri));
        } else {
          allow = true;
        }
        break;
      }
      default:
        allow = false;
        break;
    }
    if (allow) {
      webkit_policy_decision_use(decision);
    } else {
      webkit_policy_decision_ignore(decision);
    }
    return TRUE;
  }

  // Whether the user asked for the navigation to `uri` (the main frame's
  // response carries no such mark; the navigation before it did).
  void RememberGesture(const std::string& uri, bool gesture) {
    gestures_.emplace_back(uri, gesture);
    if (gestures_.size() > 32) gestures_.erase(gestures_.begin());
  }
  bool WasGesture(const std::string& uri) const {
    for (auto it = gestures_.rbegin(); it != gestures_.rend(); ++it) {
      if (it->first == uri) return it->second;
    }
    return false;
  }

  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

  static gboolean OnPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
    return TRUE;  // no menu
  }

  static gboolean OnFullscreen(WebKitWebView*, gpointer) { return TRUE; }  // stays in its frame

  static void OnZoom(WebKitWebView* web, GParamSpec*, gpointer) {
    if (webkit_web_view_get_zoom_level(web) != 1.0) webkit_web_view_set_zoom_level(web, 1.0);
  }

  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitView*>(data);
    if (event != WEBKIT_LOAD_FINISHED || self->reported_) return;
    self->reported_ = true;
    if (self->hooks_.loaded) self->hooks_.loaded(!self->failed_, self->failedCode_);
  }

  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer data) {
    auto* self = static_cast<WebKitView*>(data);
    if (!self->reported_) {
      self->failed_ = true;
      self->failedCode_ = error != nullptr ? error->code : 0;
    }
    return TRUE;  // no error page of WebKit's own
  }

  static void OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
    auto* self = static_cast<WebKitView*>(data);
    if (self->hooks_.crashed) self->hooks_.crashed();
  }

  WebViewHooks hooks_;
  GtkWidget* view_ = nullptr;
  bool reported_ = false;    // the first load's outcome went out
  bool pageRequested_ = false;  // the page's own navigation was decided
  std::vector<std::pair<std::string, bool>> gestures_;  // the latest navigations: URI, asked for by the user
  bool failed_ = false;
  int failedCode_ = 0;
};

struct TestNetwork {
  std::string proxyUrl;
  std::string certificateFile;
  std::vector<std::string> hosts;
};

class WebKitEnvironment final : public WebEnvironment {
 public:
  WebKitEnvironment(const std::string& folder, const TestNetwork& test) {
    const std::string data = folder + "/data";
    const std::string cache = folder + "/cache";
    // Ephemeral: nothing the pages do is kept. The folders still take what
    // the engine writes regardless (its caches), so the purge removes it.
    WebKitWebsiteDataManager* manager = WEBKIT_WEBSITE_DATA_MANAGER(
        g_object_new(WEBKIT_TYPE_WEBSITE_DATA_MANAGER, "base-data-directory", data.c_str(), "base-cache-directory",
                     cache.c_str(), "is-ephemeral", TRUE, nullptr));
    context_ = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
    webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    g_signal_connect(context_, "download-started", G_CALLBACK(&WebKitEnvironment::OnDownload), nullptr);
    if (!test.proxyUrl.empty()) UseTestNetwork(test);
  }
  ~WebKitEnvironment() override {
    g_signal_handlers_disconnect_by_func(context_, reinterpret_cast<gpointer>(&WebKitEnvironment::OnDownload), nullptr);
    g_object_unref(context_);
  }

  std::unique_ptr<WebView> CreateView(void* parent, WebViewHooks hooks) override {
    if (parent == nullptr || !GTK_IS_CONTAINER(parent)) return nullptr;
    return std::make_unique<WebKitView>(context_, GTK_CONTAINER(parent), std::move(hooks));
  }

 private:
  static void OnDownload(WebKitWebContext*, WebKitDownload* download, gpointer) { webkit_download_cancel(download); }

  void UseTestNetwork(const TestNetwork& test) {
    WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new(test.proxyUrl.c_str(), nullptr);
    webkit_website_data_manager_set_network_proxy_settings(webkit_web_context_get_website_data_manager(context_),
                                                           WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
    webkit_network_proxy_settings_free(proxy);
    GError* error = nullptr;
    GTlsCertificate* certificate = g_tls_certificate_new_from_file(test.certificateFile.c_str(), &error);
    g_clear_error(&error);
    if (certificate == nullptr) return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    for (const std::string& host : test.hosts) {
      webkit_web_context_allow_tls_certificate_for_host(context_, certificate, host.c_str());
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_object_unref(certificate);
  }

  WebKitWebContext* context_ = nullptr;
};

class WebKitEngine final : public WebEngine {
 public:
  std::string Version() override {
    return std::to_string(webkit_get_major_version()) + "." + std::to_string(webkit_get_minor_version()) + "." +
           std::to_string(webkit_get_micro_version());
  }

  std::shared_ptr<WebEnvironment> CreateEnvironment(const std::string& dataFolder, std::string* error) override {
    if (dataFolder.empty() || dataFolder[0] != '/') {
      if (error != nullptr) *error = "no data folder";
      return nullptr;
    }
    return std::make_shared<WebKitEnvironment>(dataFolder, test_);
  }

  void UseTestNetwork(const std::string& proxyUrl, const std::string& certificateFile,
                      const std::vector<std::string>& hosts) override {
    test_ = TestNetwork{proxyUrl, certificateFile, hosts};
  }

 private:
  TestNetwork test_;
};

}  // namespace
}  // namespace VirelantDesktop::platform

extern "C" __attribute__((visibility("default"))) VirelantDesktop::platform::WebEngine* talvek_web_engine_create() {
  return new VirelantDesktop::platform::WebKitEngine();
}
