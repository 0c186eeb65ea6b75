#include "platform/attach_surface.h"

#include "platform/installed_service.h"

namespace VirelantDesktop::platform {
namespace {

InstalledService<AttachSurfaceConnector> g_connector;

}  // namespace

void InstallAttachSurface(AttachSurfaceConnector connector) { g_connector.Install(std::move(connector)); }

bool ConnectAttachSurface(AttachSurfaceEvents events) {
  const AttachSurfaceConnector connector = g_connector.Get();
  return connector && connector(std::move(events));
}

}  // namespace VirelantDesktop::platform
