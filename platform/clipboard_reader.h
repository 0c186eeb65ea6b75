// Reading the desktop clipboard for attachments, when the shell runs a
// toolkit: installed at start-up, used by modules from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace VirelantDesktop::platform {

// The largest clipboard image taken, in bytes.
inline constexpr uint64_t kMaxClipboardImageBytes = 209715200;

// What the clipboard held, as far as attachments care. One of the forms is
// set; nothing set means nothing usable.
struct ClipboardSnapshot {
  bool available = true;  // false: no clipboard, or its owner did not answer in time
  bool text = false;      // text is offered (the page pastes it itself)
  std::string uriList;    // text/uri-list, or x-special/gnome-copied-files
  bool copiedFiles = false;  // uriList is in the copied-files form
  std::string png;        // image/png bytes
  std::string bmp;        // image/bmp file bytes
  std::string dib;        // a device-independent bitmap (no file header)
  bool imageTooLarge = false;  // an image above kMaxClipboardImageBytes was offered
  // What is offered (filled for every read; the contents above only when
  // they were asked for).
  bool offersFiles = false;
  bool offersImage = false;
};

using ClipboardDone = std::function<void(ClipboardSnapshot snapshot)>;
// Reads the clipboard (on the UI thread) and calls `done` once, on the UI
// thread. `offerOnly`: only what is offered, no contents.
using ClipboardReader = std::function<void(bool offerOnly, ClipboardDone done)>;

void InstallClipboardReader(ClipboardReader reader);
// Reads through the installed reader; without one `done` gets a snapshot
// with available false, at once.
void ReadClipboardSnapshot(ClipboardDone done);
void ReadClipboardOffer(ClipboardDone done);

// The GTK reader: requests chained (one at a time), each answer waited for
// at most `timeoutMs`; only the shell links it.
ClipboardReader MakeGtkClipboardReader(int timeoutMs = 2000);

}  // namespace VirelantDesktop::platform
