#include "updater/client/zip_entry_rules.h"

namespace VirelantDesktop::update_client {
namespace {

constexpr uint32_t kTypeMask = 0170000;
constexpr uint32_t kTypeRegular = 0100000;
constexpr uint32_t kTypeDirectory = 0040000;
constexpr uint32_t kTypeSymlink = 0120000;
constexpr uint32_t kAnyExecute = 0111;

ZipEntryVerdict Refuse(std::string reason) {
  ZipEntryVerdict verdict;
  verdict.reason = std::move(reason);
  return verdict;
}

}  // namespace

ZipEntryVerdict CheckZipEntry(std::string_view name, std::optional<uint32_t> unixMode) {
  if (name.empty()) return Refuse("empty name");
  if (name.size() > kMaxEntryNameBytes) return Refuse("name too long");
  if (name.front() == '/') return Refuse("absolute name");
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return Refuse("control character in name");
    if (c == '\\') return Refuse("backslash in name");
  }

  const bool directory = name.back() == '/';
  std::string_view rest = directory ? name.substr(0, name.size() - 1) : name;
  for (;;) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part.empty()) return Refuse("empty path component");
    if (part == "." || part == "..") return Refuse("dot path component");
    if (part.size() > kMaxEntryComponentBytes) return Refuse("path component too long");
    if (slash == std::string_view::npos) break;
    rest = rest.substr(slash + 1);
  }

  ZipEntryVerdict verdict;
  verdict.directory = directory;
  if (unixMode) {
    const uint32_t type = *unixMode & kTypeMask;
    if (type == kTypeSymlink) return Refuse("symbolic link");
    if (type == kTypeDirectory && !directory) return Refuse("folder without trailing slash");
    if (type == kTypeRegular && directory) return Refuse("file with trailing slash");
    if (type != 0 && type != kTypeRegular && type != kTypeDirectory) return Refuse("special file");
    verdict.executable = !directory && (*unixMode & kAnyExecute) != 0;
  }
  verdict.ok = true;
  return verdict;
}

}  // namespace VirelantDesktop::update_client
