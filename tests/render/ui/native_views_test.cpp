// Native component views in the mounted tree: the handlers run in order
// with the props, frames and events the component needs, and nothing the
// component does wrong reaches the surface.
#include "render/native_views.h"

#include <gtest/gtest.h>

#include <mutex>
#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/render/ui/tree_builder.h"

namespace VirelantDesktop::render {
namespace {

using testing::Model;
using testing::TransactionBuilder;

constexpr Tag kRoot = 1;

// The component's own props type: what it was told, key by key.
struct SwatchProps final : IComponentProps {
  void SetProp(const std::string& name, const JSValue& value) override {
    if (value.is_null()) {
      values.erase(name);
    } else {
      values[name] = value;
    }
    set.push_back(name);
  }
  JSValue values = JSValue::object();
  std::vector<std::string> set;  // keys set on this object, in order
};

// A surface that records where containers go.
struct FakeSurface final : NativeViewSurface {
  struct Parent {
    Tag tag = 0;
    Rect frame;
    bool visible = false;
    bool destroyed = false;
  };
  void* CreateParent(Tag tag) override {
    parents.push_back(std::make_unique<Parent>());
    parents.back()->tag = tag;
    return parents.back().get();
  }
  void PlaceParent(void* parent, const Rect& frame, bool visible) override {
    static_cast<Parent*>(parent)->frame = frame;
    static_cast<Parent*>(parent)->visible = visible;
  }
  void DestroyParent(void* parent) override { static_cast<Parent*>(parent)->destroyed = true; }
  std::vector<std::unique_ptr<Parent>> parents;
};

struct SentEvent {
  Tag tag;
  std::string type;
  Props payload;
};

class NativeViewsTest : public ::testing::Test {
 protected:
  // "Swatch": a component that logs every handler call.
  ViewComponentMap Components() {
    ViewComponentBuilder builder("Swatch");
    builder.SetCreateProps([this](const ComponentPropsPtr& cloneFrom) -> ComponentPropsPtr {
      auto props = std::make_shared<SwatchProps>();
      if (auto* from = dynamic_cast<SwatchProps*>(cloneFrom.get())) props->values = from->values;
      clonedFromPrevious.push_back(cloneFrom != nullptr);
      return props;
    });
    builder.SetMountHandler([this](IComponentView& view) {
      log.push_back("mount " + std::to_string(view.Tag()) + (view.NativeParent() ? " with parent" : " headless"));
      view.UserData() = std::make_shared<int>(view.Tag() * 10);
    });
    builder.SetUpdatePropsHandler([this](IComponentView&, const ComponentPropsPtr& now, const ComponentPropsPtr& old) {
      auto* props = static_cast<SwatchProps*>(now.get());
      std::string keys;
      for (const auto& key : props->set) keys += key + ",";
      log.push_back("props " + props->values.dump() + " set " + keys + (old ? " old" : " first"));
    });
    builder.SetUpdateLayoutMetricsHandler(
        [this](IComponentView&, const ComponentLayoutMetrics& now, const ComponentLayoutMetrics&) {
          layouts.push_back(now);
          log.push_back("layout");
        });
    builder.SetUpdateEventEmitterHandler([this](IComponentView& view, const ComponentEventEmitterPtr& emitter) {
      emitters.push_back(emitter);
      log.push_back("emitter, user data " + std::to_string(*std::static_pointer_cast<int>(view.UserData())));
    });
    builder.SetUnmountHandler([this](IComponentView& view) { log.push_back("unmount " + std::to_string(view.Tag())); });
    builder.SetCustomCommandHandler([this](IComponentView& view, const std::string& command, const JSValue& args) {
      log.push_back("command " + std::to_string(view.Tag()) + " " + command + " " + args.dump());
    });
    builder.AddDirectEvent("ping");
    ViewComponentMap map;
    map["Swatch"] = std::move(builder).Build();
    return map;
  }

  NativeEventSink Sink() {
    return [this](Tag tag, std::string type, Props payload) {
      std::lock_guard lock(eventsMutex);
      events.push_back({tag, std::move(type), std::move(payload)});
    };
  }

  static ViewModelPtr Swatch(Props props) {
    auto model = std::make_shared<ViewModel>();
    model->componentName = "Swatch";
    model->kind = ViewKind::Native;
    model->props = std::move(props);
    return model;
  }

  void Apply(NativeViews& natives, const MountTransaction& transaction) {
    tree.Apply(transaction);
    natives.Apply(transaction, tree);
  }

  MountedTree tree;
  FakeSurface surface;
  std::vector<std::string> log;
  std::vector<bool> clonedFromPrevious;
  std::vector<ComponentLayoutMetrics> layouts;
  std::vector<ComponentEventEmitterPtr> emitters;
  std::mutex eventsMutex;  // guards events (emitters may send from any thread)
  std::vector<SentEvent> events;
};

TEST_F(NativeViewsTest, AViewIsMountedGivenItsPropsFrameAndEmitterThenUpdatedByChangesOnly) {
  NativeViews natives(Components(), &surface, Sink());
  Apply(natives, TransactionBuilder(kRoot, {400, 300}, 2)
                     .Add(2, kRoot, {10, 20, 200, 100})
                     .Add(3, 2, {5, 6, 80, 40}, Swatch({{"color", "red"}, {"label", "a"}}))
                     .Get());
  ASSERT_EQ(log, (std::vector<std::string>{"mount 3 with parent",
                                           R"(props {"color":"red","label":"a"} set color,label, first)", "layout",
                                           "emitter, user data 30"}));
  ASSERT_EQ(layouts.size(), 1u);
  EXPECT_EQ(layouts[0].frame, (ComponentLayoutMetrics::Box{5, 6, 80, 40}));
  EXPECT_EQ(layouts[0].windowFrame, (ComponentLayoutMetrics::Box{15, 26, 80, 40}));
  EXPECT_EQ(layouts[0].pointScaleFactor, 2);
  ASSERT_EQ(surface.parents.size(), 1u);
  EXPECT_EQ(surface.parents[0]->frame, (Rect{15, 26, 80, 40}));
  EXPECT_TRUE(surface.parents[0]->visible);

  // One key changed, one removed, one unchanged: the next props are cloned
  // from the current ones and only the two changes are set.
  log.clear();
  Apply(natives, TransactionBuilder(kRoot, {400, 300}, 2).Props(3, Swatch({{"color", "blue"}})).Get());
  ASSERT_EQ(log, (std::vector<std::string>{R"(props {"color":"blue"} set color,label, old)"}));
  EXPECT_EQ(clonedFromPrevious, (std::vector<bool>{false, true}));

  // The same props again: no handler runs.
  log.clear();
  Apply(natives, TransactionBuilder(kRoot, {400, 300}, 2).Props(3, Swatch({{"color", "blue"}})).Get());
  EXPECT_TRUE(log.empty());
}

TEST_F(NativeViewsTest, MovingAnAncestorMovesTheWidgetAndDetachingHidesIt) {
  NativeViews natives(Components(), &surface, Sink());
  Apply(natives, TransactionBuilder(kRoot).Add(2, kRoot, {0, 0, 300, 300}).Add(3, 2, {10, 10, 50, 50}, Swatch({})).Get());
  log.clear();

  // Only the parent moves; the swatch's own frame is the same.
  Apply(natives, TransactionBuilder(kRoot).Layout(2, {100, 40, 300, 300}).Get());
  EXPECT_EQ(log, (std::vector<std::string>{"layout"}));
  EXPECT_EQ(layouts.back().frame, (ComponentLayoutMetrics::Box{10, 10, 50, 50}));
  EXPECT_EQ(layouts.back().windowFrame, (ComponentLayoutMetrics::Box{110, 50, 50, 50}));
  EXPECT_EQ(surface.parents[0]->frame, (Rect{110, 50, 50, 50}));

  // Removed from its parent but not deleted (kept for a later insert).
  Apply(natives, TransactionBuilder(kRoot).Remove(3, 2, 0).Get());
  EXPECT_FALSE(surface.parents[0]->visible);
  EXPECT_TRUE(natives.Has(3));
  Apply(natives, TransactionBuilder(kRoot).Insert(3, kRoot, 0).Get());
  EXPECT_TRUE(surface.parents[0]->visible);
  EXPECT_EQ(surface.parents[0]->frame, (Rect{10, 10, 50, 50}));
}

TEST_F(NativeViewsTest, EventsReachTheSinkAsRendererTypesUntilTheViewIsDeleted) {
  NativeViews natives(Components(), &surface, Sink());
  Apply(natives, TransactionBuilder(kRoot).Add(3, kRoot, {0, 0, 10, 10}, Swatch({})).Get());
  ASSERT_EQ(emitters.size(), 1u);
  ComponentEventEmitterPtr emitter = emitters[0];

  // From another thread, as a component's worker would.
  std::thread worker([&] {
    emitter->DispatchEvent("ping", JSValue{{"count", 1}});
    emitter->DispatchEvent("embedState", JSValue{{"state", "ready"}, {"reason", ""}});
    emitter->DispatchEvent("bare", 5);
  });
  worker.join();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].tag, 3);
  EXPECT_EQ(events[0].type, "topPing");
  EXPECT_EQ(events[0].payload, (Props{{"count", 1}, {"target", 3}}));
  EXPECT_EQ(events[1].type, "topEmbedState");
  EXPECT_EQ(events[2].payload, (Props{{"value", 5}, {"target", 3}}));

  Apply(natives, TransactionBuilder(kRoot).Remove(3, kRoot, 0).Delete(3).Get());
  EXPECT_EQ(log.back(), "unmount 3");
  EXPECT_TRUE(surface.parents[0]->destroyed);
  EXPECT_FALSE(natives.Has(3));
  emitter->DispatchEvent("ping", JSValue::object());  // after the view is gone: dropped
  EXPECT_EQ(events.size(), 3u);
}

TEST_F(NativeViewsTest, CommandsReachTheirViewAndEveryViewIsUnmountedWithTheSurface) {
  {
    NativeViews natives(Components(), &surface, Sink());
    Apply(natives, TransactionBuilder(kRoot)
                       .Add(3, kRoot, {0, 0, 10, 10}, Swatch({}))
                       .Add(4, kRoot, {0, 0, 10, 10}, Swatch({}))
                       .Get());
    log.clear();
    EXPECT_TRUE(natives.Command(4, "reload", JSValue::array({1, "x"})));
    EXPECT_FALSE(natives.Command(2, "reload", nullptr));  // no native view there
    EXPECT_EQ(log, (std::vector<std::string>{R"(command 4 reload [1,"x"])"}));
    log.clear();
  }
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (std::vector<std::string>{"unmount 3", "unmount 4"}));
  for (const auto& parent : surface.parents) EXPECT_TRUE(parent->destroyed);
}

TEST_F(NativeViewsTest, HeadlessUnknownAndFaultyComponentsDoNotStopTheSurface) {
  // Headless: handlers run without a native parent.
  {
    NativeViews natives(Components(), nullptr, Sink());
    Apply(natives, TransactionBuilder(kRoot).Add(3, kRoot, {0, 0, 10, 10}, Swatch({})).Get());
    EXPECT_EQ(log.front(), "mount 3 headless");
  }

  // A native view whose component the map does not hold is left alone.
  NativeViews none({}, &surface, Sink());
  Apply(none, TransactionBuilder(kRoot).Add(5, kRoot, {0, 0, 10, 10}, Swatch({})).Get());
  EXPECT_EQ(none.Count(), 0u);
  EXPECT_TRUE(surface.parents.empty());

  // Every handler throws, the props factory makes nothing: still mounted,
  // still unmounted, and the tree keeps going.
  ViewComponentBuilder faulty("Swatch");
  faulty.SetCreateProps([](const ComponentPropsPtr&) -> ComponentPropsPtr { return nullptr; });
  faulty.SetMountHandler([](IComponentView&) { throw std::runtime_error("mount"); });
  faulty.SetUpdateLayoutMetricsHandler([](IComponentView&, const ComponentLayoutMetrics&, const ComponentLayoutMetrics&) {
    throw 42;
  });
  faulty.SetUnmountHandler([](IComponentView&) { throw std::runtime_error("unmount"); });
  ViewComponentMap map{{"Swatch", std::move(faulty).Build()}};
  NativeViews natives(std::move(map), &surface, Sink());
  Apply(natives, TransactionBuilder(kRoot).Add(6, kRoot, {0, 0, 10, 10}, Swatch({{"a", 1}})).Get());
  EXPECT_TRUE(natives.Has(6));
  Apply(natives, TransactionBuilder(kRoot).Props(6, Swatch({{"a", 2}})).Remove(6, kRoot, 0).Delete(6).Get());
  EXPECT_FALSE(natives.Has(6));
  EXPECT_TRUE(surface.parents.back()->destroyed);
}

}  // namespace
}  // namespace VirelantDesktop::render
