// The Shell module's input rules, free of I/O.
#pragma once

#include <string>
#include <string_view>

namespace VirelantDesktop::shell {

// An address "openExternal" may open: 9 to 2048 bytes, "https://" in any
// case, no control bytes, blanks or DEL, none of " < > \ ^ ` { | }, and not
// "/", "#" or "?" right after the scheme. Bytes above 0x7F are allowed.
bool IsOpenableUrl(std::string_view url) noexcept;

// A path "openFolder" may look at: absolute ("/..."), at least 3 bytes, and
// none of the "\\?\" or "\\.\" device prefixes.
bool IsAcceptableFolderPath(std::string_view path) noexcept;

// major.minor.build of a version text such as "0.2.1.0"; "0.0.0" when it is
// not at least three numbers.
std::string AppVersion(std::string_view productVersion);

}  // namespace VirelantDesktop::shell
