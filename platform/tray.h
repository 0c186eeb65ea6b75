// The notification-area icon of the main window: an icon with a tooltip, a
// primary action (left click) and a small menu of commands.
//
// Two implementations: a StatusNotifierItem with a dbusmenu on the session
// bus (GDBus only, no toolkit), and an XEmbed icon for desktops without a
// StatusNotifierWatcher (needs GTK; lives with the GTK window backend).
// Both are used on the UI thread only (the thread that runs the default
// GLib main context) and report through TrayEvents on that thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace VirelantDesktop::platform {

struct TrayMenuEntry {
  int command = 0;    // reported through TrayEvents::command; also the dbusmenu item id
  std::string label;  // shown as is (no mnemonics)
};

struct TrayOptions {
  std::string id;       // StatusNotifierItem Id, e.g. "talvek"
  std::string title;    // title and tooltip
  // PNG files of one icon at several sizes; the tray host picks a size.
  std::vector<std::string> iconFiles;
  std::vector<TrayMenuEntry> menu;
};

struct TrayEvents {
  std::function<void()> activated;            // left click or double click
  std::function<void(int command)> command;   // a menu entry was chosen
  std::function<void()> menuRequested;        // the host wants us to show the menu ourselves
  std::function<void()> hostAppeared;         // a tray host (re)appeared: add the icon again
};

class Tray {
 public:
  virtual ~Tray() = default;
  // Shows the icon; true when a tray host took it. Calling it again
  // re-registers (after the host restarted).
  virtual bool Add() = 0;
  // Takes the icon away. Harmless when not added.
  virtual void Remove() = 0;
};

// StatusNotifierItem + com.canonical.dbusmenu on the session bus. Never null;
// Add() fails (false) when there is no session bus or no
// org.kde.StatusNotifierWatcher. Watches the watcher's name and reports
// hostAppeared whenever it gains an owner after construction.
std::unique_ptr<Tray> MakeStatusNotifierTray(TrayOptions options, TrayEvents events);

}  // namespace VirelantDesktop::platform

namespace VirelantDesktop::platform {

// The primary tray, and when it cannot add its icon, the fallback made on
// demand (may return null). Remove() takes away whichever is shown.
std::unique_ptr<Tray> MakeTrayWithFallback(std::unique_ptr<Tray> primary,
                                           std::function<std::unique_ptr<Tray>()> makeFallback);

}  // namespace VirelantDesktop::platform
