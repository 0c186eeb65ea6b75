// The `Shell` module: links to the browser, folders to the file manager, a
// folder chooser, the caption theme and window size mode through the host's
// hooks, the application's version, and "Shell.windowVisibility".
#pragma once

#include <memory>
#include <string>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"
#include "platform/desktop_opener.h"

namespace VirelantDesktop {

class Shell {
 public:
  static void Describe(ModuleTable<Shell>& table);

  void Initialize(const ReactContext& context) noexcept;

  void openExternal(std::string url, ReactPromise<bool> promise) noexcept;
  void openFolder(std::string path, ReactPromise<bool> promise) noexcept;
  void pickFolder(ReactPromise<JSValue> promise) noexcept;
  void setCaptionTheme(std::string theme) noexcept;
  void setWindowResizable(bool resizable) noexcept;
  void appInfo(ReactPromise<JSValue> promise) noexcept;

 private:
  ModuleEventSlot context_;
};
}  // namespace VirelantDesktop
