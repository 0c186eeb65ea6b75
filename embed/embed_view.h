// The embed view component: one web view per mounted TalvekEmbedView, all of
// them on one shared environment whose data lives in this process's
// throw-away profile. Each view loads once, keeps to the page and the rules
// of embed_policy.h and reports its state as "embedState" events; a user's
// click on a provider link becomes "embedExternal".
//
// Everything here runs on the UI thread, the emitters excepted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "bridge/view_component_builder.h"
#include "embed/embed_policy.h"
#include "embed/embed_view_logic.h"
#include "platform/web_engine.h"

namespace VirelantDesktop::Embed {

inline constexpr const char* kEmbedStateEvent = "embedState";
inline constexpr const char* kEmbedExternalEvent = "embedExternal";

// The component's props type.
class EmbedComponentProps final : public IComponentProps {
 public:
  void SetProp(const std::string& name, const JSValue& value) override;
  const TalvekEmbedProps& Props() const noexcept { return props_; }

 private:
  TalvekEmbedProps props_;
};

class EmbedView;

// The process's embed views and their shared environment.
class EmbedViews {
 public:
  static EmbedViews& Get();

  // Where the web engine comes from (default: the library beside the
  // executable). Set before the first view loads.
  void SetEngineLoader(std::function<std::shared_ptr<platform::WebEngine>()> loader);
  std::shared_ptr<platform::WebEngine> Engine();

  // The shared environment, made on the first request: the profile is
  // made (after the second wipe) and the engine's environment put in its
  // "wv2". `done` gets null when there is no base, no profile, or the
  // engine refused, and after shutdown started (then it is not called).
  void RequestEnvironment(const std::function<void(std::shared_ptr<platform::WebEnvironment>)>& done);

  void Register(EmbedView* view);
  void Unregister(EmbedView* view);
  size_t LiveCount() const { return live_.size(); }
  uint64_t MountCount() const { return mounts_; }

  // The exit path's purge: no more environments, every view unmounted,
  // the environment released, then the profile removed within `budgetMs`.
  // True when the profile is gone.
  bool Shutdown(int budgetMs);

  // As at process start (views must be gone).
  static void ResetForTesting();

 private:
  EmbedViews() = default;

  std::function<std::shared_ptr<platform::WebEngine>()> loader_;
  std::shared_ptr<platform::WebEngine> engine_;
  bool engineLoaded_ = false;
  enum class EnvironmentState { Absent, Ready, Failed } environmentState_ = EnvironmentState::Absent;
  std::shared_ptr<platform::WebEnvironment> environment_;
  std::set<EmbedView*> live_;
  uint64_t mounts_ = 0;
  bool shuttingDown_ = false;
};

// One mounted TalvekEmbedView.
class EmbedView {
 public:
  using Dispatch = std::function<void(const std::string& eventName, JSValue payload)>;

  // `parent`: the toolkit container the web view goes in (null: headless,
  // the view reports as if the engine were missing).
  explicit EmbedView(void* parent);
  ~EmbedView();
  EmbedView(const EmbedView&) = delete;
  EmbedView& operator=(const EmbedView&) = delete;

  // Props update: the first valid content id starts the one load.
  void UpdateProps(const TalvekEmbedProps& props);
  // Events sent before this wait and go out in order.
  void SetEmitter(Dispatch dispatch);
  // Closes the web view; later events are dropped. Safe to call twice.
  void Unmount();

  bool HasWebView() const { return webView_ != nullptr; }

 private:
  void StartLoading();
  void Attach(std::shared_ptr<platform::WebEnvironment> environment);
  bool Allow(const platform::WebNavigation& navigation);
  void SendState(std::string state, std::string reason);

  void* parent_;
  EmbedPropsGate gate_;
  EmbedStateChannel states_;
  std::shared_ptr<Dispatch> dispatch_;  // shared with the state channel's emitter
  bool originVisited_ = false;
  bool ready_ = false;
  bool unmounted_ = false;
  std::unique_ptr<platform::WebView> webView_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // for callbacks that may outlive the view
};

// Configures the "TalvekEmbedView" component on `builder`.
void ConfigureEmbedViewComponent(IReactViewComponentBuilder& builder);

}  // namespace VirelantDesktop::Embed
