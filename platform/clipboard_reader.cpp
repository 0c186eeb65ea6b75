#include "platform/clipboard_reader.h"

#include <mutex>

namespace VirelantDesktop::platform {
namespace {

std::mutex g_readerLock;  // guards g_reader
ClipboardReader g_reader;

}  // namespace

void InstallClipboardReader(ClipboardReader reader) {
  std::lock_guard lock(g_readerLock);
  g_reader = std::move(reader);
}

namespace {

void Read(bool offerOnly, ClipboardDone done) {
  ClipboardReader reader;
  {
    std::lock_guard lock(g_readerLock);
    reader = g_reader;
  }
  if (!reader) {
    ClipboardSnapshot none;
    none.available = false;
    done(std::move(none));
    return;
  }
  reader(offerOnly, std::move(done));
}

}  // namespace

void ReadClipboardSnapshot(ClipboardDone done) { Read(false, std::move(done)); }
void ReadClipboardOffer(ClipboardDone done) { Read(true, std::move(done)); }

}  // namespace VirelantDesktop::platform
