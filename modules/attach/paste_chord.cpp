#include "modules/attach/paste_chord.h"

namespace VirelantDesktop::attach {

bool IsPasteChord(const KeyPress& press) {
  if (press.repeat) return false;
  if (press.key == ChordKey::V) return press.ctrl && !press.shift && !press.alt;
  if (press.key == ChordKey::Insert) return press.shift && !press.ctrl && !press.alt;
  return false;
}

bool AnnouncesPaste(const ClipboardOffer& offer) { return !offer.text && (offer.files || offer.image); }

}  // namespace VirelantDesktop::attach
