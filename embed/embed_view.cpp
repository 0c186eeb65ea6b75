#include "embed/embed_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "embed/embed_profile.h"

namespace VirelantDesktop::Embed {
namespace {

// The props the component reads; the rest (style, accessibility) is the
// surface's business.
bool IsEmbedProp(const std::string& name) {
  return name == "kind" || name == "vid" || name == "igPath" || name == "autoplay";
}

}  // namespace

// ---- props ----------------------------------------------------------------------------

void EmbedComponentProps::SetProp(const std::string& name, const JSValue& value) {
  if (!IsEmbedProp(name)) return;
  JSValue one = JSValue::object();
  if (!value.is_null()) one[name] = value;
  const TalvekEmbedProps read = ReadEmbedProps(one);
  if (name == "kind") props_.kind = read.kind;
  if (name == "vid") props_.vid = read.vid;
  if (name == "igPath") props_.igPath = read.igPath;
  if (name == "autoplay") props_.autoplay = read.autoplay;
}

// ---- the process's views --------------------------------------------------------------

EmbedViews& EmbedViews::Get() {
  static EmbedViews views;
  return views;
}

void EmbedViews::SetEngineLoader(std::function<std::shared_ptr<platform::WebEngine>()> loader) {
  loader_ = std::move(loader);
  engine_.reset();
  engineLoaded_ = false;
}

std::shared_ptr<platform::WebEngine> EmbedViews::Engine() {
  if (!engineLoaded_) {
    engineLoaded_ = true;
    engine_ = loader_ ? loader_() : platform::LoadWebEngine();
  }
  return engine_;
}

void EmbedViews::RequestEnvironment(const std::function<void(std::shared_ptr<platform::WebEnvironment>)>& done) {
  if (shuttingDown_) return;
  if (environmentState_ == EnvironmentState::Absent) {
    // Made at once: the engine makes its environment synchronously, so no
    // request can arrive while it is under way.
    environmentState_ = EnvironmentState::Failed;
    std::shared_ptr<platform::WebEngine> engine = Engine();
    const std::string folder = engine ? EmbedProfile::Get().RequestEnvironment() : std::string();
    if (!folder.empty()) {
      std::string error;
      environment_ = engine->CreateEnvironment(folder, &error);
      if (environment_) {
        environmentState_ = EnvironmentState::Ready;
      } else {
        std::fprintf(stderr, "talvek: the embed view's web environment failed: %s\n", error.c_str());
      }
    }
  }
  done(environmentState_ == EnvironmentState::Ready ? environment_ : nullptr);
}

void EmbedViews::Register(EmbedView* view) {
  if (live_.insert(view).second) ++mounts_;
}

void EmbedViews::Unregister(EmbedView* view) { live_.erase(view); }

bool EmbedViews::Shutdown(int budgetMs) {
  const auto start = std::chrono::steady_clock::now();
  shuttingDown_ = true;
  // Unmounting unregisters: work on a copy.
  const std::set<EmbedView*> views = live_;
  for (EmbedView* view : views) view->Unmount();
  live_.clear();
  environment_.reset();
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  const int left = std::max(0, budgetMs - static_cast<int>(spent.count()));
  return EmbedProfile::Get().Purge(left);
}

void EmbedViews::ResetForTesting() {
  EmbedViews& views = Get();
  views.loader_ = nullptr;
  views.engine_.reset();
  views.engineLoaded_ = false;
  views.environmentState_ = EnvironmentState::Absent;
  views.environment_.reset();
  views.live_.clear();
  views.mounts_ = 0;
  views.shuttingDown_ = false;
}

// ---- one view ---------------------------------------------------------------------------

EmbedView::EmbedView(void* parent) : parent_(parent), dispatch_(std::make_shared<Dispatch>()) {
  EmbedViews::Get().Register(this);
}

EmbedView::~EmbedView() { Unmount(); }

void EmbedView::UpdateProps(const TalvekEmbedProps& props) {
  if (unmounted_) return;
  switch (gate_.OnProps(props)) {
    case EmbedPropsGate::Action::None:
      return;
    case EmbedPropsGate::Action::BadId:
      SendState("failed", "bad-id");
      return;
    case EmbedPropsGate::Action::Load:
      StartLoading();
      return;
  }
}

void EmbedView::SetEmitter(Dispatch dispatch) {
  *dispatch_ = std::move(dispatch);
  std::weak_ptr<Dispatch> target = dispatch_;
  states_.SetEmitter([target](const EmbedStateEvent& event) {
    auto send = target.lock();
    if (send && *send) (*send)(kEmbedStateEvent, JSValue{{"state", event.state}, {"reason", event.reason}});
  });
}

void EmbedView::Unmount() {
  if (unmounted_) return;
  unmounted_ = true;
  *alive_ = false;
  webView_.reset();  // the widget leaves the window; its process goes with the view
  *dispatch_ = nullptr;
  EmbedViews::Get().Unregister(this);
}

void EmbedView::SendState(std::string state, std::string reason) {
  if (unmounted_) return;
  states_.Send(EmbedStateEvent{std::move(state), std::move(reason)});
}

void EmbedView::StartLoading() {
  EmbedViews& views = EmbedViews::Get();
  std::shared_ptr<platform::WebEngine> engine = parent_ != nullptr ? views.Engine() : nullptr;
  if (!engine || engine->Version().empty()) {
    SendState("fallback", "runtime-missing");
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  views.RequestEnvironment([this, alive](std::shared_ptr<platform::WebEnvironment> environment) {
    if (alive.expired() || !*alive.lock()) return;
    if (!environment) {
      SendState("fallback", "env-failed");
      return;
    }
    Attach(std::move(environment));
  });
}

void EmbedView::Attach(std::shared_ptr<platform::WebEnvironment> environment) {
  std::weak_ptr<bool> alive = alive_;
  auto live = [alive] {
    auto flag = alive.lock();
    return flag && *flag;
  };
  platform::WebViewHooks hooks;
  hooks.allow = [this, live](const platform::WebNavigation& navigation) { return live() && Allow(navigation); };
  hooks.loaded = [this, live](bool ok, int errorCode) {
    if (!live()) return;
    if (ok) {
      ready_ = true;
      SendState("ready", "");
    } else {
      SendState("failed", "nav-" + std::to_string(errorCode));
    }
  };
  hooks.crashed = [this, live] {
    if (!live()) return;
    // The page's process is gone: the view shows nothing more.
    SendState("failed", "process-gone");
  };
  webView_ = environment->CreateView(parent_, std::move(hooks));
  if (!webView_) {
    SendState("failed", "core-init");
    return;
  }
  const TalvekEmbedProps& props = gate_.Loaded();
  webView_->LoadPage(EmbedPageWithPolicy(props), EmbedOrigin() + "/w");
}

bool EmbedView::Allow(const platform::WebNavigation& navigation) {
  using Kind = platform::WebNavigation::Kind;
  NavigationDecision decision = NavigationDecision::Block;
  switch (navigation.kind) {
    case Kind::TopLevel:
      decision = DecideTopLevelNavigation(navigation.url, navigation.userGesture, originVisited_);
      break;
    case Kind::Frame:
      // A frame may not show the private origin: that is the page's alone.
      decision = IsEmbedOriginUrl(navigation.url) ? NavigationDecision::Block : DecideFrameNavigation(navigation.url);
      break;
    case Kind::NewWindow:
      decision = DecideNewWindow(navigation.url, navigation.userGesture);
      if (decision == NavigationDecision::Allow) decision = NavigationDecision::Block;  // never a window
      break;
    case Kind::MainResponse: {
      // Whatever slipped past the decisions above, the main frame shows only
      // the page on the private origin; a provider page the user asked for
      // there is opened outside instead.
      if (IsEmbedOriginUrl(navigation.url) || navigation.url == "about:blank") return true;
      bool visited = true;
      decision = DecideTopLevelNavigation(navigation.url, navigation.userGesture, visited);
      if (decision == NavigationDecision::Allow) decision = NavigationDecision::Block;
      break;
    }
  }
  if (decision == NavigationDecision::External) {
    if (*dispatch_) (*dispatch_)(kEmbedExternalEvent, JSValue{{"url", navigation.url}});
    return false;
  }
  return decision == NavigationDecision::Allow;
}

// ---- the component -------------------------------------------------------------------------

void ConfigureEmbedViewComponent(IReactViewComponentBuilder& builder) {
  builder.AddDirectEvent(kEmbedStateEvent);
  builder.AddDirectEvent(kEmbedExternalEvent);
  builder.AddNativeProp("kind", "String");
  builder.AddNativeProp("vid", "String");
  builder.AddNativeProp("igPath", "String");
  builder.AddNativeProp("autoplay", "boolean");
  builder.SetCreateProps([](const ComponentPropsPtr& cloneFrom) -> ComponentPropsPtr {
    auto props = std::make_shared<EmbedComponentProps>();
    if (auto* previous = dynamic_cast<const EmbedComponentProps*>(cloneFrom.get())) *props = *previous;
    return props;
  });
  builder.SetMountHandler([](IComponentView& view) {
    view.UserData() = std::make_shared<EmbedView>(view.NativeParent());
  });
  builder.SetUpdatePropsHandler([](IComponentView& view, const ComponentPropsPtr& now, const ComponentPropsPtr&) {
    auto embed = std::static_pointer_cast<EmbedView>(view.UserData());
    auto* props = dynamic_cast<const EmbedComponentProps*>(now.get());
    if (embed && props) embed->UpdateProps(props->Props());
  });
  builder.SetUpdateEventEmitterHandler([](IComponentView& view, const ComponentEventEmitterPtr& emitter) {
    auto embed = std::static_pointer_cast<EmbedView>(view.UserData());
    if (!embed) return;
    embed->SetEmitter([emitter](const std::string& eventName, JSValue payload) {
      if (emitter) emitter->DispatchEvent(eventName, std::move(payload));
    });
  });
  // The web view fills its parent, which the surface keeps on the frame.
  builder.SetUpdateLayoutMetricsHandler(
      [](IComponentView&, const ComponentLayoutMetrics&, const ComponentLayoutMetrics&) {});
  builder.SetUnmountHandler([](IComponentView& view) {
    if (auto embed = std::static_pointer_cast<EmbedView>(view.UserData())) embed->Unmount();
    view.UserData().reset();
  });
}

}  // namespace VirelantDesktop::Embed
