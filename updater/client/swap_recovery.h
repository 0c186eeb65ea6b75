// Recovery from a swap of the installation folder cut between its two
// renames (client_os.h, MoveInByRenames): "current" is missing and the
// folder that was live waits under another name.
#pragma once

#include <optional>
#include <string>

namespace VirelantDesktop::update_client {

// While <root>/current is missing, the folder the swap parked:
// <root>/current-previous, or else the one "current-<version>-<hex>.old"
// that helpers before current-previous existed left (with several of those
// nothing is guessed). nullopt when "current" is there or nothing is parked.
std::optional<std::string> ParkedFolder(const std::string& root) noexcept;

// Renames the parked folder back to <root>/current; true when it did. The
// caller makes sure no helper is between its renames meanwhile (the apply
// lock).
bool RecoverCutSwap(const std::string& root) noexcept;

}  // namespace VirelantDesktop::update_client
