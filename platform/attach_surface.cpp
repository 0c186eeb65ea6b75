#include "platform/attach_surface.h"

#include <mutex>

namespace VirelantDesktop::platform {
namespace {

std::mutex g_connectorLock;  // guards g_connector
AttachSurfaceConnector g_connector;

}  // namespace

void InstallAttachSurface(AttachSurfaceConnector connector) {
  std::lock_guard lock(g_connectorLock);
  g_connector = std::move(connector);
}

bool ConnectAttachSurface(AttachSurfaceEvents events) {
  AttachSurfaceConnector connector;
  {
    std::lock_guard lock(g_connectorLock);
    connector = g_connector;
  }
  return connector && connector(std::move(events));
}

}  // namespace VirelantDesktop::platform
