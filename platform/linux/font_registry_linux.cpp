#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/confined_tree.h"
#include "platform/folders.h"
#include "platform/font_registry.h"
#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {
namespace {

// The file's text, or "" when it is missing, not a regular file, too large
// or unreadable. A link in its place is not followed.
std::string ReadRegistryText(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  if (static_cast<uint64_t>(info.st_size) > kMaxFontRegistryBytes) return {};
  std::string text(static_cast<size_t>(info.st_size), '\0');
  size_t filled = 0;
  while (filled < text.size()) {
    const ssize_t n = ::read(fd.Get(), text.data() + filled, text.size() - filled);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    filled += static_cast<size_t>(n);
  }
  text.resize(filled);
  return text;
}

}  // namespace

std::vector<FontRegistryValue> FontRegistry::ReadValues() const { return ParseFontRegistry(ReadRegistryText(path_)); }

bool FontRegistry::Write(const std::vector<FontRegistryValue>& values) {
  const auto text = SerializeFontRegistry(values);
  if (!text) return false;
  const size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0 && !CreateDirs(path_.substr(0, slash), 0700)) return false;
  return WriteFileAtomic(path_, *text).ok();
}

std::optional<std::string> UserFontRegistryPath() {
  const auto data = UserDataDir();
  if (!data) return std::nullopt;
  return *data + "/TALVEK/fonts.json";
}

}  // namespace VirelantDesktop::platform
