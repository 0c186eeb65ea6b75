// The main window's drop target as a state machine, free of any toolkit:
// which drags it takes (files, while enabled), the effect it answers, the
// hover notifications (never two "on" in a row) and the drop. The toolkit
// code feeds it the drag's events on the UI thread; SetEnabled may come
// from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace VirelantDesktop::filedrop {

enum class DropEffect : uint32_t { None = 0, Copy = 1, Link = 4 };

// What the drag's source allows.
struct AllowedEffects {
  bool copy = false;
  bool link = false;
};

// Copy when allowed, else link when allowed, else none.
DropEffect EffectFor(AllowedEffects allowed);

class Target {
 public:
  std::function<void(bool over)> onHover;
  std::function<void(std::vector<std::string> paths)> onDrop;

  void SetEnabled(bool enabled) { enabled_.store(enabled, std::memory_order_relaxed); }
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }

  DropEffect DragEnter(bool hasFiles, AllowedEffects allowed);
  DropEffect DragOver(AllowedEffects allowed);
  void DragLeave();
  // `paths`: what the drag carried, already collected (at most 50).
  DropEffect Drop(std::vector<std::string> paths, AllowedEffects allowed);

  bool HoverActive() const { return hoverActive_; }

 private:
  void EndHover();

  std::atomic<bool> enabled_{false};
  bool acceptsDrag_ = false;
  bool hoverActive_ = false;
};

// The absolute paths of the file URIs in a text/uri-list (lines ending in
// CR LF or LF, "#" lines are comments), in order, percent-escapes decoded,
// at most `limit`. Other schemes, other hosts than "" and "localhost",
// paths that are not absolute or hold a NUL byte are skipped.
std::vector<std::string> PathsFromUriList(std::string_view uriList, size_t limit);

// The same for the "x-special/gnome-copied-files" form: "copy" or "cut" on
// the first line, then one URI a line.
std::vector<std::string> PathsFromCopiedFiles(std::string_view copied, size_t limit);

}  // namespace VirelantDesktop::filedrop
