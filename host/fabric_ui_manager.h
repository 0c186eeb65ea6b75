// `nativeFabricUIManager`: the surface React's renderer mounts through.
//
// The renderer builds immutable shadow nodes (create, clone with new props
// or children, child sets) and commits a surface with completeRoot; the
// commit lays the tree out and hands its mount operations to the render
// options' sink, which carries them to the UI thread. Events come back the
// other way: DispatchEvent calls the handler the renderer registered with
// the node's instance handle.
//
// JS thread only, like everything that touches the engine.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "bridge/js_value.h"
#include "host/render_options.h"
#include "render/layout_events.h"
#include "render/shadow_node.h"
#include "render/surface_tree.h"

namespace VirelantDesktop::host {

class HostCore;

// Event priorities the renderer reads as constants and asks for while an
// event is dispatched.
enum class EventPriority { Default = 0, Discrete = 1, Continuous = 2, Idle = 3 };

class FabricUIManager {
 public:
  FabricUIManager(JSGlobalContextRef ctx, std::shared_ptr<HostCore> core, RenderOptions options);
  ~FabricUIManager();
  FabricUIManager(const FabricUIManager&) = delete;
  FabricUIManager& operator=(const FabricUIManager&) = delete;

  // The object installed as globalThis.nativeFabricUIManager.
  JSObjectRef Object() const noexcept { return object_; }

  // The viewport of every surface changed: lays the committed trees out
  // again and mounts the new frames.
  void SetConstraints(const render::LayoutConstraints& constraints);
  const render::LayoutConstraints& Constraints() const noexcept { return constraints_; }

  // Calls the registered handler with the node's instance handle. Events for
  // nodes that are gone, or before a handler exists, are dropped; an
  // exception the handler throws is reported, never propagated.
  void DispatchEvent(render::Tag tag, const std::string& type, const JSValue& payload);

  // The latest frame of a committed node, relative to its surface.
  std::optional<render::Rect> AbsoluteFrame(render::Tag tag) const;

  // How many instance handles are held (tests: nothing leaks on unmount).
  size_t HeldHandles() const noexcept { return handles_.size(); }

 private:
  enum class Op;
  struct Binding;
  JSValueRef Invoke(Op op, size_t argc, const JSValueRef argv[]);
  static JSValueRef Call(JSContextRef, JSObjectRef, JSObjectRef, size_t, const JSValueRef[], JSValueRef*);

  JSValueRef CreateNode(size_t argc, const JSValueRef argv[]);
  JSValueRef CloneNode(size_t argc, const JSValueRef argv[], bool newChildren, bool newProps);
  JSValueRef CreateChildSet();
  JSValueRef AppendChild(size_t argc, const JSValueRef argv[]);
  JSValueRef AppendChildToSet(size_t argc, const JSValueRef argv[]);
  JSValueRef CompleteRoot(size_t argc, const JSValueRef argv[]);
  JSValueRef RegisterEventHandler(size_t argc, const JSValueRef argv[]);
  JSValueRef CurrentEventPriority();
  JSValueRef Measure(size_t argc, const JSValueRef argv[], bool inWindow);
  JSValueRef MeasureLayout(size_t argc, const JSValueRef argv[]);
  JSValueRef BoundingClientRect(size_t argc, const JSValueRef argv[]);
  JSValueRef FindNodeAtPoint(size_t argc, const JSValueRef argv[]);
  JSValueRef DispatchCommand(size_t argc, const JSValueRef argv[]);

  render::SurfaceTree& Surface(render::Tag rootTag);
  void Mount(render::MountTransaction transaction);
  void ReleaseDeleted(const render::MountTransaction& transaction);
  void Warn(const std::string& line);
  render::ShadowNodePtr NodeOf(JSValueRef value) const;
  JSObjectRef WrapNode(render::ShadowNodePtr node);
  void CallBack(JSValueRef callback, size_t argc, const JSValueRef argv[]);

  JSGlobalContextRef ctx_;
  std::shared_ptr<HostCore> core_;
  RenderOptions options_;
  render::LayoutConstraints constraints_;
  JSClassRef nodeClass_ = nullptr;
  JSClassRef childSetClass_ = nullptr;
  JSClassRef functionClass_ = nullptr;
  JSObjectRef object_ = nullptr;        // protected
  JSObjectRef eventHandler_ = nullptr;  // protected once registered
  std::vector<std::unique_ptr<Binding>> bindings_;
  // Tag -> the renderer's instance handle (protected), from creation until
  // a commit deletes the view.
  std::unordered_map<render::Tag, JSObjectRef> handles_;
  std::map<render::Tag, std::unique_ptr<render::SurfaceTree>> surfaces_;
  std::set<std::string> warned_;
  render::LayoutReporter layouts_;  // the frames onLayout listeners last heard
  EventPriority currentPriority_ = EventPriority::Default;
};

}  // namespace VirelantDesktop::host
