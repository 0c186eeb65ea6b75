// Handing things to the desktop: a web address to the browser, a folder to
// the file manager, a file shown selected in its folder.
//
// Linux: the opener is `xdg-open` (or `gio open` where xdg-open is missing),
// started without a shell with the address or path as its one argument;
// its exit status is awaited off the calling thread for at most 10 s (a
// launcher still running then counts as launched). A file is shown through
// org.freedesktop.FileManager1.ShowItems on the session bus, falling back to
// opening its folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace VirelantDesktop::platform {

// Called once, on a worker thread: true when the launcher started and did
// not report failure.
using OpenDone = std::function<void(bool launched)>;

class DesktopOpener {
 public:
  virtual ~DesktopOpener() = default;
  // An https address or an absolute folder path.
  virtual void Open(const std::string& target, OpenDone done) = 0;
  // An absolute file path, shown selected in its folder.
  virtual void ShowFile(const std::string& path, OpenDone done) = 0;
};

std::shared_ptr<DesktopOpener> MakeDesktopOpener();

// The opener the modules share, made on first use. A test may put another in
// its place; null brings the real one back.
std::shared_ptr<DesktopOpener> SharedDesktopOpener();
void SetSharedDesktopOpenerForTesting(std::shared_ptr<DesktopOpener> opener);

}  // namespace VirelantDesktop::platform
