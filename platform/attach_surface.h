// The main window as the attachments see it: drags of files over it, drops
// on it, and key presses in it (for the paste chord). Installed at start-up
// when the shell runs a toolkit; the Attach module connects to it on the UI
// thread.
#pragma once

#include <functional>
#include <string>

namespace VirelantDesktop::platform {

enum class DragAction { None, Copy, Link };

struct DragOffer {
  bool hasFiles = false;     // the drag carries a file list (text/uri-list)
  bool copyAllowed = false;  // what its source allows
  bool linkAllowed = false;
};

enum class KeyName { V, Insert, Other };

struct KeyChordPress {
  KeyName key = KeyName::Other;
  bool ctrl = false, shift = false, alt = false;
  bool repeat = false;  // held down
};

// Called on the UI thread. The answers are the drag's action (None refuses).
struct AttachSurfaceEvents {
  std::function<DragAction(const DragOffer& offer)> dragEnter;
  std::function<DragAction(const DragOffer& offer)> dragOver;
  std::function<void()> dragLeave;
  // `uriList`: the drag's text/uri-list ("" when it had none).
  std::function<DragAction(const std::string& uriList, const DragOffer& offer)> drop;
  // Every key press; the page gets it too.
  std::function<void(const KeyChordPress& press)> keyPressed;
};

// Connects `events` to the main window (UI thread); false when there is no
// window of a toolkit.
using AttachSurfaceConnector = std::function<bool(AttachSurfaceEvents events)>;

void InstallAttachSurface(AttachSurfaceConnector connector);
bool ConnectAttachSurface(AttachSurfaceEvents events);

// The GTK connector for the main window `window` (a GtkWindow*); the window
// must outlive the connection. Only the shell links it.
bool ConnectGtkAttachSurface(void* window, AttachSurfaceEvents events);

}  // namespace VirelantDesktop::platform
