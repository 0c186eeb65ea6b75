// The views of native components (registered through the view component
// builder) in the mounted tree: each gets a toolkit container on its frame
// and the component's handlers as React creates, changes and deletes it.
//
// Per view, in this order when it is created: mount, props (new against
// none), layout metrics, event emitter. Later commits call the props
// handler with the changed props only set, the layout handler when the
// frame, the place in the window or the scale changed. Deleting the view
// (or the surface) unmounts it; its emitter then drops what it is given.
//
// UI thread only, apart from the emitters.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "bridge/view_component.h"
#include "render/mount_ops.h"
#include "render/mounted_tree.h"

namespace VirelantDesktop::render {

// The toolkit side: one container per native view, kept on its frame.
class NativeViewSurface {
 public:
  virtual ~NativeViewSurface() = default;
  // A new, empty container for view `tag`; null when there is no toolkit.
  virtual void* CreateParent(Tag tag) = 0;
  // Puts the container on `windowFrame` (logical pixels); hidden when the
  // view is not attached to the surface.
  virtual void PlaceParent(void* parent, const Rect& windowFrame, bool visible) = 0;
  virtual void DestroyParent(void* parent) = 0;
};

// Where component events go: the view's tag, the renderer's event type
// ("topEmbedState") and the payload. Called on any thread.
using NativeEventSink = std::function<void(Tag tag, std::string type, Props payload)>;

class NativeViews {
 public:
  // `surface` may be null (headless) and must outlive this.
  NativeViews(ViewComponentMap components, NativeViewSurface* surface, NativeEventSink sink);
  ~NativeViews();
  NativeViews(const NativeViews&) = delete;
  NativeViews& operator=(const NativeViews&) = delete;

  // Call after `tree` applied `transaction`.
  void Apply(const MountTransaction& transaction, const MountedTree& tree);
  // Places every view again (after a scroll view moved its content). A view
  // that is not wholly inside the scroll views above it is hidden: its
  // widget cannot be cut at their edges.
  void Reposition(const MountedTree& tree, float pointScale);
  // A command for the view `tag`; false when no native view has the tag.
  bool Command(Tag tag, const std::string& command, const JSValue& args);
  // Unmounts every view (the surface is going away).
  void UnmountAll();

  size_t Count() const { return views_.size(); }
  bool Has(Tag tag) const { return views_.count(tag) != 0; }

 private:
  class View;
  class Emitter;

  void Create(Tag tag, const ViewModel& model, const MountedTree& tree, float pointScale);
  void UpdateProps(View& view, const ViewModel& model);
  void Place(View& view, const MountedTree& tree, float pointScale);
  void Unmount(View& view);

  ViewComponentMap components_;
  NativeViewSurface* surface_;
  NativeEventSink sink_;
  std::unordered_map<Tag, std::unique_ptr<View>> views_;
};

}  // namespace VirelantDesktop::render
