#include "modules/attach/desktop_attach.h"

#include "bridge/module_kit.h"
#include "modules/attach/attach_module.h"
#include "modules/attach/attach_types.h"
#include "modules/attach/paste_chord.h"
#include "platform/attach_surface.h"
#include "platform/clipboard_reader.h"

namespace VirelantDesktop::attach {
namespace {

platform::DragAction ToAction(filedrop::DropEffect effect) {
  switch (effect) {
    case filedrop::DropEffect::Copy:
      return platform::DragAction::Copy;
    case filedrop::DropEffect::Link:
      return platform::DragAction::Link;
    case filedrop::DropEffect::None:
      break;
  }
  return platform::DragAction::None;
}

filedrop::AllowedEffects Allowed(const platform::DragOffer& offer) {
  return filedrop::AllowedEffects{offer.copyAllowed, offer.linkAllowed};
}

ChordKey ToChordKey(platform::KeyName key) {
  switch (key) {
    case platform::KeyName::V:
      return ChordKey::V;
    case platform::KeyName::Insert:
      return ChordKey::Insert;
    case platform::KeyName::Other:
      break;
  }
  return ChordKey::Other;
}

void OnKey(const platform::KeyChordPress& press) {
  if (!IsPasteChord(KeyPress{ToChordKey(press.key), press.ctrl, press.shift, press.alt, press.repeat})) return;
  platform::ReadClipboardOffer([](platform::ClipboardSnapshot offer) {
    if (!offer.available) return;
    if (!AnnouncesPaste(ClipboardOffer{offer.text, offer.offersFiles, offer.offersImage})) return;
    EmitModuleEvent(EventSlot(), "Attach.paste", JSValueObject{});
  });
}

}  // namespace

filedrop::Target& DropTarget() {
  static filedrop::Target* target = [] {
    auto* made = new filedrop::Target();  // lives as long as the window it serves: the process
    made->onHover = [](bool over) { EmitModuleEvent(EventSlot(), "Attach.dropHover", JSValue{{"over", over}}); };
    made->onDrop = [](std::vector<std::string> paths) {
      EmitModuleEvent(EventSlot(), "Attach.drop", JSValue{{"paths", std::move(paths)}});
    };
    return made;
  }();
  return *target;
}

bool EnsureDropTarget() {
  static bool connected = false;
  if (connected) return true;
  platform::AttachSurfaceEvents events;
  events.dragEnter = [](const platform::DragOffer& offer) {
    return ToAction(DropTarget().DragEnter(offer.hasFiles, Allowed(offer)));
  };
  events.dragOver = [](const platform::DragOffer& offer) { return ToAction(DropTarget().DragOver(Allowed(offer))); };
  events.dragLeave = [] { DropTarget().DragLeave(); };
  events.drop = [](const std::string& uriList, const platform::DragOffer& offer) {
    return ToAction(DropTarget().Drop(filedrop::PathsFromUriList(uriList, kMaxBatchFiles), Allowed(offer)));
  };
  events.keyPressed = &OnKey;
  connected = platform::ConnectAttachSurface(std::move(events));
  return connected;
}

}  // namespace VirelantDesktop::attach
