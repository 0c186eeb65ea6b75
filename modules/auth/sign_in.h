// The host's way to end a running sign-in flow (the tray's Quit, the end of
// the session): the flow records Canceled unless it already ended, and its
// waiting "result" calls resolve. Blocks up to 2 s.
#pragma once

namespace VirelantDesktop {

void CancelSignInFlow() noexcept;

}  // namespace VirelantDesktop
