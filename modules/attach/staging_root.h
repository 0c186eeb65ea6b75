// Where staged attachments live.
#pragma once

#include <string>

namespace VirelantDesktop::attach {

// MediaRoot + "/up", created when missing. "" when there is no media root, or
// the folder cannot be made or is not a real folder (a link is refused, so
// nothing staged can land outside the cache).
std::string StagingRoot();

}  // namespace VirelantDesktop::attach
