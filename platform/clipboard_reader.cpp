#include "platform/clipboard_reader.h"

#include "platform/installed_service.h"

namespace VirelantDesktop::platform {
namespace {

InstalledService<ClipboardReader> g_reader;

void Read(bool offerOnly, ClipboardDone done) {
  const ClipboardReader reader = g_reader.Get();
  if (!reader) {
    ClipboardSnapshot none;
    none.available = false;
    done(std::move(none));
    return;
  }
  reader(offerOnly, std::move(done));
}

}  // namespace

void InstallClipboardReader(ClipboardReader reader) { g_reader.Install(std::move(reader)); }
void ReadClipboardSnapshot(ClipboardDone done) { Read(false, std::move(done)); }
void ReadClipboardOffer(ClipboardDone done) { Read(true, std::move(done)); }

}  // namespace VirelantDesktop::platform
