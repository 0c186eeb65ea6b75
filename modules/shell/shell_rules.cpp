#include "modules/shell/shell_rules.h"

#include "platform/ascii_text.h"
#include "platform/url_text.h"

namespace VirelantDesktop::shell {

bool IsOpenableUrl(std::string_view url) noexcept {
  if (url.size() < 9 || url.size() > 2048) return false;
  static constexpr std::string_view kScheme = "https://";
  if (!platform::StartsWithIgnoringAsciiCase(url, kScheme)) return false;
  for (char c : url) {
    if (platform::IsUnsafeUrlByte(static_cast<unsigned char>(c))) return false;
  }
  const char afterScheme = url[kScheme.size()];
  return afterScheme != '#' && afterScheme != '/' && afterScheme != '?';
}

bool IsAcceptableFolderPath(std::string_view path) noexcept {
  if (path.size() < 3 || path.front() != '/') return false;
  return path.substr(0, 4) != "\\\\?\\" && path.substr(0, 4) != "\\\\.\\" && path.substr(0, 4) != "//?/" &&
         path.substr(0, 4) != "//./";
}

std::string AppVersion(std::string_view productVersion) {
  std::string out;
  int numbers = 0;
  size_t start = 0;
  while (numbers < 3) {
    const size_t end = std::min(productVersion.find('.', start), productVersion.size());
    const std::string_view part = productVersion.substr(start, end - start);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string_view::npos) {
      return "0.0.0";
    }
    if (numbers > 0) out += '.';
    out += std::to_string(std::stoul(std::string(part)));
    ++numbers;
    if (end >= productVersion.size() && numbers < 3) return "0.0.0";
    start = end + 1;
  }
  return out;
}

}  // namespace VirelantDesktop::shell
