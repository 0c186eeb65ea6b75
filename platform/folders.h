// Per-user folders and the program's own folder.
//
// Linux: the XDG base directories. A variable counts only when it holds an
// absolute path; otherwise the HOME-based default applies, and a folder is
// unavailable (nullopt) when neither gives an absolute path. Nothing is
// created here. Thread-safe (reads the environment only).
#pragma once

#include <optional>
#include <string>

namespace VirelantDesktop::platform {

// $XDG_DATA_HOME, else $HOME/.local/share.
std::optional<std::string> UserDataDir();
// $XDG_CACHE_HOME, else $HOME/.cache.
std::optional<std::string> UserCacheDir();
// $XDG_CONFIG_HOME, else $HOME/.config.
std::optional<std::string> UserConfigDir();
// $XDG_RUNTIME_DIR; it has no HOME-based default.
std::optional<std::string> UserRuntimeDir();

// The folder holding the running executable (no trailing "/").
std::optional<std::string> ExecutableDir();
// The running executable's full path.
std::optional<std::string> ExecutablePath();

}  // namespace VirelantDesktop::platform
