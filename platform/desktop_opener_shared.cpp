#include <mutex>

#include "platform/desktop_opener.h"

namespace VirelantDesktop::platform {
namespace {

std::mutex g_openerLock;  // guards g_opener
std::shared_ptr<DesktopOpener> g_opener;

}  // namespace

std::shared_ptr<DesktopOpener> SharedDesktopOpener() {
  std::lock_guard lock(g_openerLock);
  if (!g_opener) g_opener = MakeDesktopOpener();
  return g_opener;
}

void SetSharedDesktopOpenerForTesting(std::shared_ptr<DesktopOpener> opener) {
  std::lock_guard lock(g_openerLock);
  g_opener = std::move(opener);
}

}  // namespace VirelantDesktop::platform
