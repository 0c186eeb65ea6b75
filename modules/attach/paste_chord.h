// When a key press in the main window announces a paste of attachments:
// Ctrl+V (without Shift or Alt) or Shift+Insert (without Ctrl or Alt), not
// held down, while the clipboard offers files or an image and no text (text
// the page pastes by itself).
#pragma once

namespace VirelantDesktop::attach {

enum class ChordKey { V, Insert, Other };

struct KeyPress {
  ChordKey key = ChordKey::Other;
  bool ctrl = false;
  bool shift = false;
  bool alt = false;
  bool repeat = false;  // the key is held down
};

struct ClipboardOffer {
  bool text = false;
  bool files = false;
  bool image = false;
};

bool IsPasteChord(const KeyPress& press);
bool AnnouncesPaste(const ClipboardOffer& offer);

}  // namespace VirelantDesktop::attach
