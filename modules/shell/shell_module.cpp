#include "modules/shell/shell_module.h"

#include <mutex>

#include "bridge/module_registration.h"
#include "bridge/host_hooks.h"
#include "modules/shell/shell_rules.h"
#include "platform/file_info.h"
#include "platform/folder_picker.h"

namespace VirelantDesktop {
namespace {

constexpr const char* kVisibilityEvent = "Shell.windowVisibility";

// The context through which the window sends "Shell.windowVisibility";
// empty until a Shell module was initialised.
ModuleEventSlot& VisibilitySlot() {
  static ModuleEventSlot slot;
  return slot;
}

platform::OpenDone SettleWith(const ReactPromise<bool>& promise) {
  return [promise](bool launched) {
    if (launched) promise.Resolve(true);
    else promise.Reject("open_failed");
  };
}

}  // namespace

void Shell::Describe(ModuleTable<Shell>& table) {
  table.Initializer(&Shell::Initialize);
  table.Method("openExternal", &Shell::openExternal);
  table.Method("openFolder", &Shell::openFolder);
  table.Method("pickFolder", &Shell::pickFolder);
  table.Method("setCaptionTheme", &Shell::setCaptionTheme);
  table.Method("setWindowResizable", &Shell::setWindowResizable);
  table.Method("appInfo", &Shell::appInfo);
}

void Shell::Initialize(const ReactContext& context) noexcept {
  context_.Store(context);
  VisibilitySlot().Store(context);
  try {
    HostHooks::Get().SetVisibilityListener([](bool visible) {
      EmitModuleEvent(VisibilitySlot(), kVisibilityEvent, JSValue{{"visible", visible}});
    });
  } catch (...) {
  }
  // The current value once, even when unchanged; nothing before the window exists.
  RunOnUI(context, [] { HostHooks::Get().RefreshVisibility(); });
}

void Shell::openExternal(std::string url, ReactPromise<bool> promise) noexcept {
  if (!shell::IsOpenableUrl(url)) {
    promise.Reject("invalid_url");
    return;
  }
  RunOnUI(context_.Get(),
          [url = std::move(url), promise] { platform::SharedDesktopOpener()->Open(url, SettleWith(promise)); });
}

void Shell::openFolder(std::string path, ReactPromise<bool> promise) noexcept {
  if (!shell::IsAcceptableFolderPath(path)) {
    promise.Reject("not_found");
    return;
  }
  RunOnUI(context_.Get(), [path = std::move(path), promise] {
    switch (platform::KindOfPath(path)) {
      case platform::PathKind::Missing:
        promise.Reject("not_found");
        return;
      case platform::PathKind::Directory:
        platform::SharedDesktopOpener()->Open(path, SettleWith(promise));
        return;
      case platform::PathKind::Other:
        platform::SharedDesktopOpener()->ShowFile(path, SettleWith(promise));
        return;
    }
  });
}

void Shell::pickFolder(ReactPromise<JSValue> promise) noexcept {
  RunOnUI(context_.Get(), [promise] {
    const bool shown = platform::PickFolder([promise](platform::PickOutcome outcome, const std::string& path) {
      switch (outcome) {
        case platform::PickOutcome::Chosen:
          promise.Resolve(path);
          return;
        case platform::PickOutcome::Cancelled:
          promise.Resolve(nullptr);
          return;
        case platform::PickOutcome::Failed:
          promise.Reject("pick_failed");
          return;
      }
    });
    if (!shown) promise.Reject("pick_failed");  // no toolkit, no display
  });
}

void Shell::setCaptionTheme(std::string theme) noexcept {
  if (theme != "light" && theme != "dark") return;
  const bool dark = theme == "dark";
  RunOnUI(context_.Get(), [dark] { HostHooks::Get().CallApplyCaptionTheme(dark); });
}

void Shell::setWindowResizable(bool resizable) noexcept {
  RunOnUI(context_.Get(), [resizable] { HostHooks::Get().CallApplyWindowResizable(resizable); });
}

void Shell::appInfo(ReactPromise<JSValue> promise) noexcept {
  try {
    promise.Resolve({{"fontsLoaded", HostHooks::Get().FontsLoaded()},
                     {"platform", "linux"},
                     {"version", shell::AppVersion(TALVEK_PRODUCT_VERSION)}});
  } catch (...) {
    promise.Resolve({{"fontsLoaded", false}, {"platform", "linux"}, {"version", "0.0.0"}});
  }
}

TALVEK_REGISTER_MODULE(Shell, "Shell");

}  // namespace VirelantDesktop
