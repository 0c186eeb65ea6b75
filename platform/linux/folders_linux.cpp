#include "platform/folders.h"

#include <stdlib.h>
#include <unistd.h>

#include <string_view>

namespace VirelantDesktop::platform {
namespace {

// The variable's value when it holds an absolute path. The XDG Base
// Directory rules say relative values are invalid and must be ignored.
std::optional<std::string> AbsoluteEnv(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

std::optional<std::string> XdgDir(const char* variable, std::string_view homeRelative) {
  if (auto dir = AbsoluteEnv(variable)) return dir;
  auto home = AbsoluteEnv("HOME");
  if (!home) return std::nullopt;
  if (home->size() > 1 && home->back() == '/') home->pop_back();
  if (*home == "/") home->clear();  // avoid "//.config"
  home->push_back('/');
  home->append(homeRelative);
  return home;
}

}  // namespace

std::optional<std::string> UserDataDir() { return XdgDir("XDG_DATA_HOME", ".local/share"); }
std::optional<std::string> UserCacheDir() { return XdgDir("XDG_CACHE_HOME", ".cache"); }
std::optional<std::string> UserConfigDir() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::optional<std::string> UserRuntimeDir() { return AbsoluteEnv("XDG_RUNTIME_DIR"); }

std::optional<std::string> ExecutablePath() {
  // readlink() does not say whether it truncated; a result that fills the
  // whole buffer may have been cut, so grow the buffer and ask again.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      // Always absolute for a running program; anything else (an
      // unexpected procfs) is not a path callers can build on.
      if (buffer.empty() || buffer.front() != '/') return std::nullopt;
      return buffer;
    }
    if (buffer.size() >= (size_t{1} << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> ExecutableDir() {
  auto path = ExecutablePath();
  if (!path) return std::nullopt;
  const size_t slash = path->rfind('/');
  // ExecutablePath() only returns absolute paths, so a "/" exists.
  if (slash == 0) return std::string("/");
  path->resize(slash);
  return path;
}

}  // namespace VirelantDesktop::platform
