// The GTK 3 window backend and the XEmbed tray icon. Only the shell links
// these (the dev runner stays free of the toolkit).
#pragma once

#include <memory>

#include "platform/main_window.h"
#include "platform/tray.h"

namespace VirelantDesktop::platform {

// Sets the program name and opens the display on this thread, which becomes
// the toolkit's thread. Unless Ready, nothing below may be used.
enum class GtkStart {
  Ready,
  NoDisplay,    // neither DISPLAY nor WAYLAND_DISPLAY is set
  OpenFailed,   // one is set, but the display cannot be opened
};
GtkStart InitGtk();

// A top-level window with a client-side title bar. Fires no event before
// the constructor returns.
std::unique_ptr<MainWindow> MakeGtkWindow(MainWindowEvents events);

// An icon in an XEmbed system tray (GtkStatusIcon), for desktops without a
// StatusNotifierWatcher. Add() is true once the icon exists; whether a tray
// shows it is up to the desktop.
std::unique_ptr<Tray> MakeXEmbedTray(TrayOptions options, TrayEvents events);

}  // namespace VirelantDesktop::platform
