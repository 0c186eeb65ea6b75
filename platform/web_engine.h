// The web engine the embed view shows its page in. The engine lives in a
// library of its own beside the executable (on Linux "libtalvek-webkit.so",
// WebKitGTK); the shell runs without it, and its views then report that no
// engine is installed.
//
// Everything here runs on the UI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace VirelantDesktop::platform {

// A navigation, new window or main-frame response the page asks for.
struct WebNavigation {
  enum class Kind {
    TopLevel,      // the page itself is to be replaced (or a link aimed at it)
    Frame,         // a frame of the page loads a document
    NewWindow,     // a link or script asked for a window
    MainResponse,  // the main frame is about to show a response from `url`
                   // (userGesture: the navigation that fetched it was the user's)
  };
  Kind kind = Kind::Frame;
  std::string url;
  bool userGesture = false;  // the user clicked or typed for it
};

// What a view tells its owner.
struct WebViewHooks {
  // True: let it happen (the page's own load is asked too).
  std::function<bool(const WebNavigation& navigation)> allow;
  // The page finished loading: ok, or failed with the engine's error code.
  std::function<void(bool ok, int errorCode)> loaded;
  // The engine's process for the page is gone (crashed or killed).
  std::function<void()> crashed;
};

class WebView {
 public:
  virtual ~WebView() = default;  // the widget leaves its parent
  // Shows `html` as the document at `baseUri` (an https URL).
  virtual void LoadPage(const std::string& html, const std::string& baseUri) = 0;
};

// One per process: every view's session and network state, with every data
// and cache folder inside the folder it was made with.
class WebEnvironment {
 public:
  virtual ~WebEnvironment() = default;
  // A view inside `parent` (a GtkContainer), filling it; null on failure.
  virtual std::unique_ptr<WebView> CreateView(void* parent, WebViewHooks hooks) = 0;
};

class WebEngine {
 public:
  virtual ~WebEngine() = default;
  // The engine's version, "" when it cannot run here.
  virtual std::string Version() = 0;
  // The environment with its folders inside `dataFolder`; null with
  // `error` set when it cannot be made.
  virtual std::shared_ptr<WebEnvironment> CreateEnvironment(const std::string& dataFolder, std::string* error) = 0;

  // For tests only, before the environment is made: every connection goes
  // through the HTTP proxy at `proxyUrl`, and the certificate in the PEM file
  // `certificateFile` is accepted for each of `hosts`. The shell never calls
  // it; it lets a local server stand in for the providers.
  virtual void UseTestNetwork(const std::string& proxyUrl, const std::string& certificateFile,
                              const std::vector<std::string>& hosts) = 0;
};

// The engine library beside the executable, loaded on the first call; null
// when it is missing or does not load. UI thread.
std::shared_ptr<WebEngine> LoadWebEngine();

// The function the engine library exports under this name.
inline constexpr const char* kWebEngineEntryPoint = "talvek_web_engine_create";
using WebEngineEntryPoint = WebEngine* (*)();

}  // namespace VirelantDesktop::platform
