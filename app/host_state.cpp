#include "app/host_state.h"

namespace VirelantDesktop {

HostState& HostState::Get() {
  static HostState state;
  return state;
}

}  // namespace VirelantDesktop
