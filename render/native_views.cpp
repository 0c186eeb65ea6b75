#include "render/native_views.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <type_traits>

namespace VirelantDesktop::render {
namespace {

// Component code runs inside toolkit callbacks: what it throws stops here.
template <typename Handler, typename... Args>
void Call(const Handler& handler, const std::string& component, const char* what, Args&&... args) {
  if constexpr (std::is_constructible_v<bool, const Handler&>) {
    if (!handler) return;
  }
  try {
    handler(std::forward<Args>(args)...);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "talvek: %s of %s failed: %s\n", what, component.c_str(), error.what());
  } catch (...) {
    std::fprintf(stderr, "talvek: %s of %s failed\n", what, component.c_str());
  }
}

ComponentLayoutMetrics::Box BoxOf(const Rect& rect) { return {rect.x, rect.y, rect.width, rect.height}; }

}  // namespace

class NativeViews::Emitter final : public IComponentEventEmitter {
 public:
  Emitter(Tag tag, NativeEventSink sink) : tag_(tag), sink_(std::move(sink)) {}

  void DispatchEvent(const std::string& eventName, JSValue payload) override {
    if (!alive_.load(std::memory_order_acquire) || !sink_ || eventName.empty()) return;
    if (!payload.is_object()) payload = JSValue{{"value", std::move(payload)}};
    if (!payload.contains("target")) payload["target"] = tag_;
    sink_(tag_, TopEventType(eventName), std::move(payload));
  }
  void Retire() { alive_.store(false, std::memory_order_release); }

 private:
  const Tag tag_;
  const NativeEventSink sink_;
  std::atomic<bool> alive_{true};
};

class NativeViews::View final : public IComponentView {
 public:
  View(render::Tag tag, ViewComponentDescriptorPtr component, void* parent)
      : tag_(tag), component_(std::move(component)), parent_(parent) {}

  int32_t Tag() const override { return tag_; }
  void* NativeParent() const override { return parent_; }
  const ComponentLayoutMetrics& LayoutMetrics() const override { return metrics_; }
  std::shared_ptr<void>& UserData() override { return userData_; }

  const ViewComponentDescriptor& Component() const { return *component_; }

  const render::Tag tag_;
  const ViewComponentDescriptorPtr component_;
  void* parent_;
  ComponentLayoutMetrics metrics_;
  std::shared_ptr<void> userData_;
  ComponentPropsPtr props_;
  Props rawProps_ = Props::object();
  std::shared_ptr<Emitter> emitter_;
  bool placed_ = false;
  bool layoutReported_ = false;
  bool visible_ = false;
  Rect placedFrame_;
};

NativeViews::NativeViews(ViewComponentMap components, NativeViewSurface* surface, NativeEventSink sink)
    : components_(std::move(components)), surface_(surface), sink_(std::move(sink)) {}

NativeViews::~NativeViews() { UnmountAll(); }

void NativeViews::Apply(const MountTransaction& transaction, const MountedTree& tree) {
  const float pointScale = transaction.constraints.pointScale > 0 ? transaction.constraints.pointScale : 1;
  bool moved = false;
  for (const MountOp& op : transaction.ops) {
    switch (op.kind) {
      case MountKind::Create:
        if (op.model && op.model->kind == ViewKind::Native && views_.count(op.tag) == 0 && tree.Find(op.tag)) {
          Create(op.tag, *op.model, tree, pointScale);
        }
        break;
      case MountKind::UpdateProps:
        if (auto found = views_.find(op.tag); found != views_.end() && op.model) UpdateProps(*found->second, *op.model);
        break;
      case MountKind::Delete:
        if (auto found = views_.find(op.tag); found != views_.end()) {
          std::unique_ptr<View> view = std::move(found->second);
          views_.erase(found);
          Unmount(*view);
        }
        break;
      case MountKind::Insert:
      case MountKind::Remove:
      case MountKind::UpdateLayout:
        moved = true;
        break;
    }
  }
  // Any move may carry a native view along with an ancestor; there are few.
  if (moved || transaction.ops.empty()) {
    for (auto& [tag, view] : views_) Place(*view, tree, pointScale);
  }
}

void NativeViews::Create(Tag tag, const ViewModel& model, const MountedTree& tree, float pointScale) {
  auto component = components_.find(model.componentName);
  if (component == components_.end() || !component->second) return;
  void* parent = surface_ != nullptr ? surface_->CreateParent(tag) : nullptr;
  auto owned = std::make_unique<View>(tag, component->second, parent);
  View& view = *owned;
  views_.emplace(tag, std::move(owned));
  const ViewComponentDescriptor& descriptor = view.Component();

  Call(descriptor.mount, descriptor.name, "mount", view);
  UpdateProps(view, model);
  Place(view, tree, pointScale);
  view.emitter_ = std::make_shared<Emitter>(tag, sink_);
  ComponentEventEmitterPtr emitter = view.emitter_;
  Call(descriptor.updateEventEmitter, descriptor.name, "event emitter update", view, emitter);
}

void NativeViews::UpdateProps(View& view, const ViewModel& model) {
  const ViewComponentDescriptor& descriptor = view.Component();
  const Props& next = model.props.is_object() ? model.props : Props::object();
  ComponentPropsPtr props;
  try {
    props = descriptor.createProps(view.props_);
  } catch (...) {
    props = nullptr;
  }
  if (!props) {
    std::fprintf(stderr, "talvek: the props factory of %s made no props\n", descriptor.name.c_str());
    return;
  }
  bool changed = view.props_ == nullptr;
  auto set = [&](const std::string& key, const JSValue& value) {
    changed = true;
    Call([&] { props->SetProp(key, value); }, descriptor.name, "a prop");
  };
  for (const auto& [key, value] : next.items()) {
    auto old = view.rawProps_.find(key);
    if (view.props_ == nullptr || old == view.rawProps_.end() || *old != value) set(key, value);
  }
  if (view.props_ != nullptr) {
    for (const auto& [key, value] : view.rawProps_.items()) {
      if (!next.contains(key)) set(key, nullptr);
    }
  }
  if (!changed) return;
  ComponentPropsPtr old = std::move(view.props_);
  view.props_ = props;
  view.rawProps_ = next;
  Call(descriptor.updateProps, descriptor.name, "props update", view, props, old);
}

void NativeViews::Reposition(const MountedTree& tree, float pointScale) {
  for (auto& [tag, view] : views_) Place(*view, tree, pointScale);
}

void NativeViews::Place(View& view, const MountedTree& tree, float pointScale) {
  const MountedView* mounted = tree.Find(view.tag_);
  std::optional<Rect> windowFrame;
  if (mounted != nullptr && tree.SurfaceOf(view.tag_)) windowFrame = tree.AbsoluteFrame(view.tag_);
  bool visible = windowFrame.has_value();
  if (visible) {
    if (const auto clip = tree.ScrollClip(view.tag_)) {
      constexpr float kSlack = 1;  // rounding at the edges
      const Rect& f = *windowFrame;
      visible = f.x >= clip->x - kSlack && f.y >= clip->y - kSlack && f.x + f.width <= clip->x + clip->width + kSlack &&
                f.y + f.height <= clip->y + clip->height + kSlack;
    }
  }

  ComponentLayoutMetrics metrics = view.metrics_;
  if (mounted != nullptr) {
    metrics.frame = BoxOf(mounted->layout.frame);
    metrics.rightToLeft = mounted->layout.direction == LayoutDirection::Rtl;
  }
  if (windowFrame) metrics.windowFrame = BoxOf(*windowFrame);
  metrics.pointScaleFactor = pointScale;

  if (surface_ != nullptr && view.parent_ != nullptr) {
    const Rect frame = windowFrame.value_or(view.placedFrame_);
    if (!view.placed_ || visible != view.visible_ || frame != view.placedFrame_) {
      surface_->PlaceParent(view.parent_, frame, visible);
      view.placed_ = true;
      view.visible_ = visible;
      view.placedFrame_ = frame;
    }
  }
  if (view.layoutReported_ && metrics == view.metrics_) return;
  const ComponentLayoutMetrics old = view.metrics_;
  view.metrics_ = metrics;
  view.layoutReported_ = true;
  const ViewComponentDescriptor& descriptor = view.Component();
  Call(descriptor.updateLayoutMetrics, descriptor.name, "layout update", view, metrics, old);
}

bool NativeViews::Command(Tag tag, const std::string& command, const JSValue& args) {
  auto found = views_.find(tag);
  if (found == views_.end()) return false;
  View& view = *found->second;
  Call(view.Component().command, view.Component().name, "a command", view, command, args);
  return true;
}

void NativeViews::Unmount(View& view) {
  if (view.emitter_) view.emitter_->Retire();
  const ViewComponentDescriptor& descriptor = view.Component();
  Call(descriptor.unmount, descriptor.name, "unmount", view);
  if (surface_ != nullptr && view.parent_ != nullptr) surface_->DestroyParent(view.parent_);
  view.parent_ = nullptr;
}

void NativeViews::UnmountAll() {
  auto views = std::move(views_);
  views_.clear();
  for (auto& [tag, view] : views) Unmount(*view);
}

}  // namespace VirelantDesktop::render
