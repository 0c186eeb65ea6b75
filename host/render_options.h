// What the host needs to render: where mount operations go, how text is
// measured, which native components exist, and the display the bundle sees
// (window size and scale, colour scheme, locale).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bridge/js_value.h"
#include "render/mount_ops.h"
#include "render/shadow_node.h"
#include "render/text_measurer.h"

namespace VirelantDesktop::host {

// The surface React Native apps start in.
inline constexpr render::Tag kRootSurfaceTag = 1;

struct RenderOptions {
  // Measures paragraphs during layout (JS thread). Null: a rough estimate.
  std::shared_ptr<const render::TextMeasurer> measurer;
  // Receives every commit's mount operations on the JS thread; carries them
  // to the thread that draws. Null: commits are laid out and dropped.
  std::function<void(render::MountTransaction)> mount;
  // True for the names of native components registered by packages.
  render::NativeComponentLookup isNativeComponent;
  // Reads an image's size in pixels for Image.getSize (called on the JS
  // thread; `done` may run on any thread, once). Null: getSize rejects.
  std::function<void(const std::string& uri, std::function<void(int width, int height, std::string error)> done)>
      imageSize;
  // A command the bundle sends a native component's view (JS thread).
  std::function<void(render::Tag tag, const std::string& command, const JSValue& args)> command;
};

struct DisplayEnvironment {
  render::LayoutConstraints constraints{render::Size{1000, 720}, 1, 1, render::LayoutDirection::Ltr};
  render::Size screen{1920, 1080};
  std::string colorScheme = "light";  // "light" or "dark"
  std::string locale = "en-US";
  std::string osVersion;
};

}  // namespace VirelantDesktop::host
