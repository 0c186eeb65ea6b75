// Embed views against a scripted web engine: what each view reports and
// when, which navigations it lets through, the environment they share and
// the shutdown that leaves no profile behind.
#include "embed/embed_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bridge/package_provider.h"
#include "bridge/view_component.h"
#include "embed/embed_profile.h"

namespace VirelantDesktop::Embed {
namespace {

namespace fs = std::filesystem;
using platform::WebNavigation;

constexpr const char* kGoodId = "dQw4w9WgXcQ";

// A web view that remembers what it was given; the test plays the engine.
struct FakeWebView final : platform::WebView {
  explicit FakeWebView(platform::WebViewHooks h, int* open) : hooks(std::move(h)), openViews(open) { ++*openViews; }
  ~FakeWebView() override { --*openViews; }
  void LoadPage(const std::string& page, const std::string& base) override {
    html = page;
    baseUri = base;
  }
  platform::WebViewHooks hooks;
  std::string html, baseUri;
  int* openViews;
};

struct FakeEngine final : platform::WebEngine {
  struct Environment final : platform::WebEnvironment {
    explicit Environment(FakeEngine* e) : engine(e) {}
    std::unique_ptr<platform::WebView> CreateView(void* parent, platform::WebViewHooks hooks) override {
      if (parent == nullptr) return nullptr;
      auto view = std::make_unique<FakeWebView>(std::move(hooks), &engine->openViews);
      engine->views.push_back(view.get());
      return view;
    }
    FakeEngine* engine;
  };
  std::string Version() override { return version; }
  void UseTestNetwork(const std::string&, const std::string&, const std::vector<std::string>&) override {}
  std::shared_ptr<platform::WebEnvironment> CreateEnvironment(const std::string& folder, std::string* error) override {
    ++environments;
    folders.push_back(folder);
    if (refuse) {
      *error = "refused";
      return nullptr;
    }
    auto environment = std::make_shared<Environment>(this);
    lastEnvironment = environment;
    return environment;
  }
  std::string version = "2.50.6";
  bool refuse = false;
  int environments = 0;
  int openViews = 0;
  std::vector<std::string> folders;
  std::vector<FakeWebView*> views;
  std::weak_ptr<platform::WebEnvironment> lastEnvironment;
};

struct Sent {
  std::string event;
  JSValue payload;
};

int g_parent = 0;  // any non-null toolkit container will do for the fake

class EmbedViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmbedViews::ResetForTesting();
    EmbedProfile::ResetForTesting();
    fs::remove_all(EmbedProfileBase() + "/embed-tmp");
    engine = std::make_shared<FakeEngine>();
    EmbedViews::Get().SetEngineLoader([this] { return engine; });
  }
  void TearDown() override {
    EmbedViews::ResetForTesting();
    EmbedProfile::ResetForTesting();
  }

  static TalvekEmbedProps Props(const std::string& vid) {
    TalvekEmbedProps props;
    props.vid = vid;
    return props;
  }
  EmbedView::Dispatch Recorder() {
    return [this](const std::string& event, JSValue payload) { sent.push_back({event, std::move(payload)}); };
  }
  std::vector<std::string> States() const {
    std::vector<std::string> out;
    for (const auto& s : sent) {
      if (s.event == kEmbedStateEvent) out.push_back(s.payload["state"].get<std::string>() + "/" + s.payload["reason"].get<std::string>());
    }
    return out;
  }

  std::shared_ptr<FakeEngine> engine;
  std::vector<Sent> sent;
};

TEST_F(EmbedViewTest, AValidIdLoadsThePageOnceAndReadyFollowsTheEmitter) {
  EmbedView view(&g_parent);
  view.UpdateProps(Props(kGoodId));  // before the emitter: the events wait
  ASSERT_EQ(engine->views.size(), 1u);
  FakeWebView& web = *engine->views[0];
  EXPECT_EQ(web.baseUri, EmbedOrigin() + "/w");
  EXPECT_EQ(web.html, EmbedPageWithPolicy(Props(kGoodId)));
  web.hooks.loaded(true, 0);
  EXPECT_TRUE(sent.empty());
  view.SetEmitter(Recorder());
  EXPECT_EQ(States(), (std::vector<std::string>{"ready/"}));

  // Another id after loading started: nothing happens.
  view.UpdateProps(Props("aaaaaaaaaaa"));
  EXPECT_EQ(engine->views.size(), 1u);
  EXPECT_EQ(States().size(), 1u);
}

TEST_F(EmbedViewTest, BadIdsMissingEnginesAndRefusedEnvironmentsAreReported) {
  {
    EmbedView view(&g_parent);
    view.SetEmitter(Recorder());
    view.UpdateProps(Props(""));  // no id yet: nothing
    view.UpdateProps(Props("bad id!"));
    EXPECT_EQ(States(), (std::vector<std::string>{"failed/bad-id"}));
  }
  sent.clear();
  engine->version = "";  // the engine cannot run here
  {
    EmbedView view(&g_parent);
    view.SetEmitter(Recorder());
    view.UpdateProps(Props(kGoodId));
    EXPECT_EQ(States(), (std::vector<std::string>{"fallback/runtime-missing"}));
  }
  sent.clear();
  EmbedViews::Get().SetEngineLoader([] { return nullptr; });  // no engine library
  {
    EmbedView view(&g_parent);
    view.SetEmitter(Recorder());
    view.UpdateProps(Props(kGoodId));
    EXPECT_EQ(States(), (std::vector<std::string>{"fallback/runtime-missing"}));
  }
  sent.clear();
  engine->version = "2.50.6";
  engine->refuse = true;
  EmbedViews::Get().SetEngineLoader([this] { return engine; });
  {
    EmbedView view(&g_parent);
    view.SetEmitter(Recorder());
    view.UpdateProps(Props(kGoodId));
    EXPECT_EQ(States(), (std::vector<std::string>{"fallback/env-failed"}));
  }
}

TEST_F(EmbedViewTest, FailedLoadsAndLostProcessesAreFailures) {
  EmbedView view(&g_parent);
  view.SetEmitter(Recorder());
  view.UpdateProps(Props(kGoodId));
  engine->views[0]->hooks.loaded(false, 302);
  engine->views[0]->hooks.crashed();
  EXPECT_EQ(States(), (std::vector<std::string>{"failed/nav-302", "failed/process-gone"}));
}

TEST_F(EmbedViewTest, NavigationsKeepToThePageAndUserLinksGoOutside) {
  EmbedView view(&g_parent);
  view.SetEmitter(Recorder());
  view.UpdateProps(Props(kGoodId));
  auto& allow = engine->views[0]->hooks.allow;
  const std::string page = EmbedOrigin() + "/w";
  const std::string provider = "https://www.youtube.com/watch?v=dQw4w9WgXcQ";

  EXPECT_TRUE(allow({WebNavigation::Kind::TopLevel, page, false})) << "the page's own load";
  EXPECT_TRUE(allow({WebNavigation::Kind::MainResponse, page, false}));
  EXPECT_FALSE(allow({WebNavigation::Kind::TopLevel, page, false})) << "the origin loads once";
  EXPECT_TRUE(allow({WebNavigation::Kind::Frame, EmbedUrl(Props(kGoodId)), false}));
  EXPECT_FALSE(allow({WebNavigation::Kind::Frame, "http://plain.example/", false}));
  EXPECT_FALSE(allow({WebNavigation::Kind::Frame, page, false})) << "the private origin is the page's alone";

  // A script taking the page away is stopped twice over: as a navigation
  // and as the main frame's response.
  EXPECT_FALSE(allow({WebNavigation::Kind::TopLevel, "https://elsewhere.example/", false}));
  EXPECT_FALSE(allow({WebNavigation::Kind::MainResponse, "https://elsewhere.example/", false}));
  EXPECT_FALSE(allow({WebNavigation::Kind::TopLevel, provider, false}));
  EXPECT_TRUE(sent.empty());

  // The user's click on a provider link: opened outside, not in the view.
  EXPECT_FALSE(allow({WebNavigation::Kind::TopLevel, provider, true}));
  EXPECT_FALSE(allow({WebNavigation::Kind::NewWindow, provider, true}));
  EXPECT_FALSE(allow({WebNavigation::Kind::NewWindow, provider, false}));
  EXPECT_FALSE(allow({WebNavigation::Kind::NewWindow, "https://elsewhere.example/", true}));
  // Known to be the main frame only at its response: the same rules then.
  EXPECT_FALSE(allow({WebNavigation::Kind::MainResponse, provider, true}));
  EXPECT_FALSE(allow({WebNavigation::Kind::MainResponse, "https://elsewhere.example/", true}));
  ASSERT_EQ(sent.size(), 3u);
  for (const auto& s : sent) {
    EXPECT_EQ(s.event, kEmbedExternalEvent);
    EXPECT_EQ(s.payload, (JSValue{{"url", provider}}));
  }
}

TEST_F(EmbedViewTest, ViewsShareOneEnvironmentAndShutdownLeavesNoProfile) {
  auto first = std::make_unique<EmbedView>(&g_parent);
  auto second = std::make_unique<EmbedView>(&g_parent);
  first->UpdateProps(Props(kGoodId));
  second->UpdateProps(Props(kGoodId));
  EXPECT_EQ(engine->environments, 1);
  ASSERT_EQ(engine->folders.size(), 1u);
  const fs::path wv2 = engine->folders[0];
  EXPECT_EQ(wv2.filename(), "wv2");
  EXPECT_TRUE(fs::is_directory(wv2));
  EXPECT_EQ(EmbedViews::Get().LiveCount(), 2u);
  EXPECT_EQ(EmbedViews::Get().MountCount(), 2u);
  EXPECT_EQ(engine->openViews, 2);

  first->SetEmitter(Recorder());
  const platform::WebViewHooks hooks = engine->views[0]->hooks;  // the engine may still call them
  ASSERT_TRUE(EmbedViews::Get().Shutdown(1500));
  EXPECT_EQ(engine->openViews, 0) << "every web view closed before the purge";
  EXPECT_TRUE(engine->lastEnvironment.expired()) << "the environment released";
  EXPECT_FALSE(fs::exists(wv2.parent_path())) << "the profile removed";
  EXPECT_EQ(EmbedViews::Get().LiveCount(), 0u);

  // What the unmounted views hear now goes nowhere; nothing new is made.
  hooks.loaded(true, 0);
  EXPECT_FALSE(hooks.allow({WebNavigation::Kind::TopLevel, EmbedOrigin() + "/w", false}));
  EXPECT_TRUE(sent.empty());
  EmbedView late(&g_parent);
  late.SetEmitter(Recorder());
  late.UpdateProps(Props(kGoodId));
  EXPECT_EQ(engine->environments, 1);
  EXPECT_TRUE(sent.empty());
  first.reset();
  second.reset();
}

TEST_F(EmbedViewTest, TheComponentReadsItsPropsAndSendsItsEventsThroughTheEmitter) {
  auto component = DescribeViewComponent(kEmbedViewComponentName, ConfigureEmbedViewComponent);
  EXPECT_EQ(component->directEvents, (std::vector<std::string>{"embedState", "embedExternal"}));
  ComponentPropsPtr props = component->createProps(nullptr);
  props->SetProp("vid", "bad id!");
  props->SetProp("width", 320);  // style: not the component's
  props->SetProp("kind", "instagram");
  props->SetProp("kind", nullptr);  // removed: back to the default
  const auto& read = static_cast<EmbedComponentProps&>(*props).Props();
  EXPECT_EQ(read.vid, "bad id!");
  EXPECT_EQ(read.kind, "youtube");
  ComponentPropsPtr next = component->createProps(props);
  EXPECT_EQ(static_cast<EmbedComponentProps&>(*next).Props().vid, "bad id!") << "cloned";

  struct View final : IComponentView {
    int32_t Tag() const override { return 7; }
    void* NativeParent() const override { return &g_parent; }
    const ComponentLayoutMetrics& LayoutMetrics() const override { return metrics; }
    std::shared_ptr<void>& UserData() override { return data; }
    ComponentLayoutMetrics metrics;
    std::shared_ptr<void> data;
  } view;
  struct Emitter final : IComponentEventEmitter {
    void DispatchEvent(const std::string& name, JSValue payload) override { events.push_back({name, payload}); }
    std::vector<Sent> events;
  };
  auto emitter = std::make_shared<Emitter>();
  component->mount(view);
  component->updateProps(view, props, nullptr);
  component->updateEventEmitter(view, emitter);
  ASSERT_EQ(emitter->events.size(), 1u);
  EXPECT_EQ(emitter->events[0].event, "embedState");
  EXPECT_EQ(emitter->events[0].payload, (JSValue{{"reason", "bad-id"}, {"state", "failed"}}));
  EXPECT_EQ(EmbedViews::Get().LiveCount(), 1u);
  component->unmount(view);
  EXPECT_EQ(EmbedViews::Get().LiveCount(), 0u);
  EXPECT_FALSE(view.data);
}

}  // namespace
}  // namespace VirelantDesktop::Embed
